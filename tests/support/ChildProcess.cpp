#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <stdexcept>

#include "sim/PseudoTerminal.h"
#include "tests/support/Harness.h"

namespace harness {

namespace {

// Descriptors are made and processes forked under this lock, so that no child
// inherits a descriptor another thread has just made (before it is marked
// close-on-exec).
std::mutex forkLock;

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("harness: " + what + ": " + std::strerror(errno));
}

void MakePipe(int fds[2]) {
    if (pipe(fds) != 0) {
        Fail("pipe");
    }
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

int DupCloexec(int fd) {
    int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) {
        Fail("dup");
    }
    return copy;
}

void WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            Fail("write to child");
        }
        done += static_cast<size_t>(put);
    }
}

// What the child is given, prepared before fork so that the child only
// makes async-signal-safe calls.
struct ChildSetup {
    std::vector<std::string> argStrings;
    std::vector<char*> argv;
    std::string workDir;
    std::string terminalPath;  // Terminal: open as controlling terminal
    int input = -1;            // Null, Pipe: becomes standard input
    int out = -1;
    int err = -1;
    int64_t fileSizeLimit = 0;
};

[[noreturn]] void RunChild(const ChildSetup& setup) {
    if (!setup.workDir.empty() && chdir(setup.workDir.c_str()) != 0) {
        _exit(126);
    }
    int input = setup.input;
    if (!setup.terminalPath.empty()) {
        // A new session without a controlling terminal; the first terminal it
        // opens becomes its controlling terminal (TIOCSCTTY makes sure).
        setsid();
        input = open(setup.terminalPath.c_str(), O_RDWR);
        if (input < 0) {
            _exit(126);
        }
        ioctl(input, TIOCSCTTY, 0);
    }
    dup2(input, 0);
    dup2(setup.out, 1);
    dup2(setup.err, 2);
    // The program starts with every signal at its default and none blocked,
    // however the test program was started: an ignored SIGHUP (under nohup)
    // or SIGINT (a background job) is passed on through exec, and so is a
    // blocked one, and either would keep the program from ending on it.
    for (int number : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU}) {
        signal(number, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (setup.fileSizeLimit > 0) {
        const rlimit limit = {static_cast<rlim_t>(setup.fileSizeLimit),
                              static_cast<rlim_t>(setup.fileSizeLimit)};
        signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    execvp(setup.argv[0], setup.argv.data());
    _exit(127);
}

}  // namespace

struct ChildProcess::Capture {
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    std::string out;
    std::string err;
    std::string terminal;
    bool outDone = false;
    bool errDone = false;
    bool exited = false;
    int rawStatus = 0;

    bool Done() const { return outDone && errDone; }
    bool WaitFor(std::string Capture::*stream, const std::string& text, int timeoutMs) const {
        std::unique_lock<std::mutex> guard(lock);
        const auto found = [&] {
            return NativeLineEnds(this->*stream).find(text) != std::string::npos;
        };
        return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
            return found() || Done();
        }) && found();
    }
};

namespace {

constexpr int kReaderPollMs = 100;

// Reads what is ready on fd into text; closes fd at its end and sets it to -1.
void Drain(int& fd, std::string& text, std::mutex& lock) {
    char buffer[4096];
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    std::lock_guard<std::mutex> guard(lock);
    if (got <= 0) {
        fd = -1;
        return;
    }
    text.append(buffer, static_cast<size_t>(got));
}

// Reads the child's output pipes (and the keyboard terminal's master) until
// both pipes are closed, then reaps the child.
void ReadOutput(pid_t pid, int outFd, int errFd, int terminalFd,
                std::shared_ptr<ChildProcess::Capture> capture) {
    int pipes[2] = {outFd, errFd};
    while (pipes[0] >= 0 || pipes[1] >= 0) {
        pollfd fds[3] = {{pipes[0], POLLIN, 0}, {pipes[1], POLLIN, 0}, {terminalFd, POLLIN, 0}};
        if (poll(fds, 3, kReaderPollMs) < 0 && errno != EINTR) {
            break;
        }
        int opened[2] = {pipes[0], pipes[1]};
        if (fds[0].revents != 0) {
            Drain(pipes[0], capture->out, capture->lock);
        }
        if (fds[1].revents != 0) {
            Drain(pipes[1], capture->err, capture->lock);
        }
        if (fds[2].revents != 0) {
            Drain(terminalFd, capture->terminal, capture->lock);
        }
        for (int i = 0; i < 2; ++i) {
            if (opened[i] >= 0 && pipes[i] < 0) {
                close(opened[i]);
            }
        }
        capture->changed.notify_all();
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> guard(capture->lock);
    capture->outDone = capture->errDone = capture->exited = true;
    capture->rawStatus = status;
    capture->changed.notify_all();
}

}  // namespace

namespace {

ChildSetup PrepareArguments(const ProcessOptions& options) {
    ChildSetup setup;
    setup.argStrings =
        options.binary.empty() ? LaunchCommand(VantoirBinary(), options.args) : options.args;
    if (!options.binary.empty()) {
        setup.argStrings.insert(setup.argStrings.begin(), options.binary);
    }
    for (std::string& arg : setup.argStrings) {
        setup.argv.push_back(arg.data());
    }
    setup.argv.push_back(nullptr);
    setup.workDir = options.workDir;
    setup.fileSizeLimit = options.fileSizeLimit;
    return setup;
}

// The parent's ends of the child's input.
struct InputEnds {
    int write = -1;           // Pipe: we write here
    int keyboardMaster = -1;  // Terminal
    int keyboardSlave = -1;   // Terminal: our own descriptor, for its settings
};

// Opens the child's input; its end goes into setup.
InputEnds OpenInput(InputKind kind, ChildSetup& setup) {
    InputEnds ends;
    if (kind == InputKind::Pipe) {
        int fds[2];
        MakePipe(fds);
        setup.input = fds[0];
        ends.write = fds[1];
    } else if (kind == InputKind::Null) {
        setup.input = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (setup.input < 0) {
            Fail("open /dev/null");
        }
    } else {
        sim::PseudoTerminal keyboard(true, false);
        ends.keyboardMaster = DupCloexec(keyboard.MasterFd());
        ends.keyboardSlave = DupCloexec(keyboard.SlaveFd());
        setup.terminalPath = keyboard.SlavePath();
    }
    return ends;
}

}  // namespace

ChildProcess::ChildProcess(const ProcessOptions& options) : capture(std::make_shared<Capture>()) {
    // A child that ends without reading its input must not take us with it.
    static const bool pipeSignalIgnored = (signal(SIGPIPE, SIG_IGN), true);
    (void)pipeSignalIgnored;
    ChildSetup setup = PrepareArguments(options);
    int outPipe[2];
    int errPipe[2];
    {
        std::lock_guard<std::mutex> guard(forkLock);
        MakePipe(outPipe);
        MakePipe(errPipe);
        InputEnds ends = OpenInput(options.inputKind, setup);
        inputFd = ends.write;
        keyboardMaster = ends.keyboardMaster;
        keyboardSlave = ends.keyboardSlave;
        setup.out = outPipe[1];
        setup.err = errPipe[1];
        pid = fork();
        if (pid == 0) {
            RunChild(setup);
        }
    }
    int forkErrno = errno;
    close(outPipe[1]);
    close(errPipe[1]);
    CloseFd(setup.input);
    if (pid < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        errno = forkErrno;
        Fail("fork");
    }
    reader = std::thread(ReadOutput, pid, outPipe[0], errPipe[0], keyboardMaster, capture);
    try {
        if (!options.input.empty()) {
            WriteKeys(options.input);
        }
    } catch (const std::runtime_error&) {
        // The child ended without reading its input; its result tells.
    }
    if (options.inputKind == InputKind::Pipe && options.closeInput) {
        CloseInput();
    }
}

ChildProcess::~ChildProcess() {
    if (!Exited()) {
        kill(pid, SIGKILL);
    }
    if (reader.joinable()) {
        reader.join();
    }
    CloseFd(inputFd);
    CloseFd(keyboardMaster);
    CloseFd(keyboardSlave);
}

void ChildProcess::WriteKeys(const std::string& bytes) {
    int fd = inputFd >= 0 ? inputFd : keyboardMaster;
    if (fd < 0) {
        throw std::runtime_error("harness: the child's input is not writable");
    }
    WriteAll(fd, bytes);
}

void ChildProcess::CloseInput() {
    CloseFd(inputFd);
    if (keyboardMaster >= 0) {
        // The reader thread polls this descriptor: the master is closed (the
        // terminal hangs up) by putting /dev/null in its place, which the
        // reader then sees at its end.
        int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        dup2(null, keyboardMaster);
        close(null);
    }
}

termios ChildProcess::KeyboardSettings() const {
    termios settings{};
    if (keyboardSlave < 0 || tcgetattr(keyboardSlave, &settings) != 0) {
        throw std::runtime_error("harness: no keyboard terminal to read the settings of");
    }
    return settings;
}

bool ChildProcess::WaitForKeyAtATime(int timeoutMs) const {
    // A terminal's settings change without any event to wait for: they are
    // looked at every millisecond until the deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if ((KeyboardSettings().c_lflag & ICANON) == 0) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string ChildProcess::Stdout() const {
    std::lock_guard<std::mutex> guard(capture->lock);
    return NativeLineEnds(capture->out);
}

std::string ChildProcess::Stderr() const {
    std::lock_guard<std::mutex> guard(capture->lock);
    return NativeLineEnds(capture->err);
}

std::string ChildProcess::TerminalOutput() const {
    std::lock_guard<std::mutex> guard(capture->lock);
    return capture->terminal;
}

bool ChildProcess::WaitForStdout(const std::string& text, int timeoutMs) const {
    return capture->WaitFor(&Capture::out, text, timeoutMs);
}

bool ChildProcess::WaitForStderr(const std::string& text, int timeoutMs) const {
    return capture->WaitFor(&Capture::err, text, timeoutMs);
}

void ChildProcess::Signal(int signalNumber) {
    if (!Exited()) {
        kill(pid, signalNumber);
    }
}

bool ChildProcess::Exited() {
    std::lock_guard<std::mutex> guard(capture->lock);
    return capture->exited;
}

ProcessResult ChildProcess::Wait(int timeoutMs) {
    std::unique_lock<std::mutex> guard(capture->lock);
    if (!capture->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                   [&] { return capture->exited; })) {
        killedByGuard = true;
        kill(pid, SIGKILL);
        capture->changed.wait(guard, [&] { return capture->exited; });
    }
    ProcessResult result;
    result.out = NativeLineEnds(capture->out);
    result.err = NativeLineEnds(capture->err);
    result.timedOut = killedByGuard;
    if (WIFEXITED(capture->rawStatus)) {
        result.exitStatus = WEXITSTATUS(capture->rawStatus);
    } else if (WIFSIGNALED(capture->rawStatus)) {
        result.termSignal = WTERMSIG(capture->rawStatus);
    }
    ReportInterruptAsNative(result);
    return result;
}

}  // namespace harness
