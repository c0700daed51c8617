#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <string>

#include "process/ChildProcesses.h"

extern char** environ;

namespace {

constexpr size_t kReadChunkBytes = 4096;
// After both of a child's pipes have ended, how long one look for its exit
// may wait (it is on its way out).
constexpr int kExitLookMs = 10;

// The descriptor a child's channel has in the child.
constexpr int kChannelFd = 3;

struct Child {
    pid_t pid = -1;
    int fds[3] = {-1, -1, -1};  // standard output, standard error, the channel
    bool ended = false;

    bool AllClosed() const { return fds[0] < 0 && fds[1] < 0 && fds[2] < 0; }
};

constexpr ChildEvent::Kind kStreamKinds[3] = {
    ChildEvent::Kind::Output, ChildEvent::Kind::ErrorOutput, ChildEvent::Kind::Channel};

// The parent is single-threaded: no other thread can fork between the two
// calls.
bool MakePipe(int fds[2]) {
    if (pipe(fds) != 0) {
        return false;
    }
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    return true;
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

}  // namespace

struct ChildProcesses::Impl {
    std::vector<Child> children;

    void ReadPipe(int index, int stream, std::vector<ChildEvent>& events);
    void LookForExit(int index, std::vector<ChildEvent>& events);
};

ChildProcesses::ChildProcesses() : impl(std::make_unique<Impl>()) {}

ChildProcesses::~ChildProcesses() {
    for (size_t i = 0; i < impl->children.size(); ++i) {
        Kill(static_cast<int>(i));
    }
    for (Child& child : impl->children) {
        for (int& fd : child.fds) {
            CloseFd(fd);
        }
        if (!child.ended) {
            int status = 0;
            waitpid(child.pid, &status, 0);
        }
    }
}

// posix_spawn: the child gets /dev/null as input, the write ends of its
// pipes as output, error and channel (descriptor 3), every signal the parent
// catches at its default, no blocked signal and a process group of its own. Every pipe is made
// close-on-exec, so that no child holds another's pipe open (its end would
// then never come); the copies made for the child are not.
int ChildProcesses::Start(const std::string& program, const std::vector<std::string>& arguments,
                          bool channel) {
    int pipes[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};
    const int streams = channel ? 3 : 2;
    for (int stream = 0; stream < streams; ++stream) {
        if (!MakePipe(pipes[stream])) {
            for (int made = 0; made < stream; ++made) {
                CloseFd(pipes[made][0]);
                CloseFd(pipes[made][1]);
            }
            return -1;
        }
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    for (int stream = 0; stream < streams; ++stream) {
        const int target = stream == 2 ? kChannelFd : stream + 1;
        posix_spawn_file_actions_adddup2(&actions, pipes[stream][1], target);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    // A process group of its own: a terminal's Ctrl-C (or its hang-up)
    // reaches only the parent's group, which passes one request on, so that
    // the child never gets a second one (which would end it at once).
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    std::vector<std::string> given = arguments;
    if (channel) {
        given.push_back(std::to_string(kChannelFd));
    }
    std::vector<char*> argv;
    for (const std::string& argument : given) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed =
        posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    for (int stream = 0; stream < streams; ++stream) {
        CloseFd(pipes[stream][1]);
    }
    if (failed != 0) {
        for (int stream = 0; stream < streams; ++stream) {
            CloseFd(pipes[stream][0]);
        }
        return -1;
    }
    Child child;
    child.pid = pid;
    for (int stream = 0; stream < streams; ++stream) {
        child.fds[stream] = pipes[stream][0];
    }
    impl->children.push_back(child);
    return static_cast<int>(impl->children.size()) - 1;
}

void ChildProcesses::Impl::ReadPipe(int index, int stream, std::vector<ChildEvent>& events) {
    Child& child = children[static_cast<size_t>(index)];
    char buffer[kReadChunkBytes];
    const ssize_t got = read(child.fds[stream], buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (got <= 0) {
        CloseFd(child.fds[stream]);
        return;
    }
    ChildEvent event;
    event.child = index;
    event.kind = kStreamKinds[stream];
    event.bytes.assign(buffer, static_cast<size_t>(got));
    events.push_back(std::move(event));
}

void ChildProcesses::Impl::LookForExit(int index, std::vector<ChildEvent>& events) {
    Child& child = children[static_cast<size_t>(index)];
    int status = 0;
    if (child.ended || !child.AllClosed() || waitpid(child.pid, &status, WNOHANG) != child.pid) {
        return;
    }
    child.ended = true;
    ChildEvent event;
    event.child = index;
    event.kind = ChildEvent::Kind::Ended;
    event.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    event.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    event.interrupted = event.signal == SIGINT || event.signal == SIGTERM || event.signal == SIGHUP;
    events.push_back(std::move(event));
}

std::vector<ChildEvent> ChildProcesses::Wait(uint32_t waitMs) {
    std::vector<pollfd> fds;
    std::vector<std::pair<int, int>> owners;  // child, stream
    bool exiting = false;
    for (size_t i = 0; i < impl->children.size(); ++i) {
        const Child& child = impl->children[i];
        // The channel first: what a child told before it wrote more output
        // is then taken before that output.
        for (int stream : {2, 0, 1}) {
            if (child.fds[stream] >= 0) {
                fds.push_back({child.fds[stream], POLLIN, 0});
                owners.emplace_back(static_cast<int>(i), stream);
            }
        }
        exiting = exiting || (!child.ended && child.AllClosed());
    }
    const int timeout =
        exiting ? kExitLookMs : static_cast<int>(std::min<uint32_t>(waitMs, INT_MAX));
    std::vector<ChildEvent> events;
    if (poll(fds.data(), fds.size(), timeout) > 0) {
        for (size_t f = 0; f < fds.size(); ++f) {
            if (fds[f].revents != 0) {
                impl->ReadPipe(owners[f].first, owners[f].second, events);
            }
        }
    }
    for (size_t i = 0; i < impl->children.size(); ++i) {
        impl->LookForExit(static_cast<int>(i), events);
    }
    return events;
}

void ChildProcesses::Interrupt(int child, int interrupt) {
    const Child& running = impl->children[static_cast<size_t>(child)];
    if (!running.ended) {
        kill(running.pid, interrupt != 0 ? interrupt : SIGINT);
    }
}

void ChildProcesses::Kill(int child) {
    const Child& running = impl->children[static_cast<size_t>(child)];
    if (!running.ended) {
        kill(running.pid, SIGKILL);
    }
}

int ChildProcesses::Running() const {
    int running = 0;
    for (const Child& child : impl->children) {
        running += child.ended ? 0 : 1;
    }
    return running;
}

std::string RunningProgramPath(const char* argv0) {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length > 0) {
        return std::string(path, static_cast<size_t>(length));
    }
    return argv0 != nullptr ? argv0 : "vantoir";
}
