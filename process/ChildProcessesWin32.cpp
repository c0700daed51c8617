#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "process/ChildProcesses.h"

namespace {

constexpr DWORD kReadChunkBytes = 4096;
// The exit code of a program ended by Ctrl-C or Ctrl-Break.
constexpr DWORD kControlCExitCode = 0xC000013Au;

// One argument as the C runtime's command-line parser reads it back: in
// double quotes when it is empty or holds a blank or a quote; a quote is
// escaped with a backslash, and the backslashes before a quote (or before
// the closing one) are doubled.
std::string QuoteArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

std::string CommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (const std::string& argument : arguments) {
        line += (line.empty() ? "" : " ") + QuoteArgument(argument);
    }
    return line;
}

HANDLE OpenNul() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_EXISTING, 0, nullptr);
}

// A pipe whose write end the child inherits; the read end stays ours.
bool MakePipe(HANDLE& readEnd, HANDLE& writeEnd) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return false;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    return true;
}

bool HasConsole() {
    DWORD mode = 0;
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        if (GetConsoleMode(GetStdHandle(which), &mode)) {
            return true;
        }
    }
    return GetConsoleWindow() != nullptr;
}

struct Child {
    HANDLE process = nullptr;
    HANDLE pipes[3] = {nullptr, nullptr, nullptr};  // output, error, the channel
    std::thread readers[3];
    int openStreams = 0;
    bool ended = false;  // Ended reported
};

constexpr ChildEvent::Kind kStreamKinds[3] = {
    ChildEvent::Kind::Output, ChildEvent::Kind::ErrorOutput, ChildEvent::Kind::Channel};

}  // namespace

// Each pipe is read by a thread of its own, which queues what it reads; the
// one that finds the last of a child's pipes at its end waits for the child
// and queues its end.
struct ChildProcesses::Impl {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<ChildEvent> pending;
    std::vector<std::unique_ptr<Child>> children;

    void ReadPipe(Child& child, int index, int stream);
    void Queue(ChildEvent event);
};

void ChildProcesses::Impl::Queue(ChildEvent event) {
    std::lock_guard<std::mutex> guard(lock);
    pending.push_back(std::move(event));
    changed.notify_all();
}

// Runs on the pipe's own thread: it touches only its child (children may
// grow meanwhile) and the queue.
void ChildProcesses::Impl::ReadPipe(Child& child, int index, int stream) {
    char buffer[kReadChunkBytes];
    DWORD got = 0;
    while (ReadFile(child.pipes[stream], buffer, sizeof buffer, &got, nullptr) && got > 0) {
        ChildEvent event;
        event.child = index;
        event.kind = kStreamKinds[stream];
        event.bytes.assign(buffer, got);
        Queue(std::move(event));
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        if (--child.openStreams > 0) {
            return;
        }
    }
    WaitForSingleObject(child.process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child.process, &code);
    ChildEvent event;
    event.child = index;
    event.kind = ChildEvent::Kind::Ended;
    event.status = static_cast<int>(code);
    event.interrupted = code == kControlCExitCode;
    Queue(std::move(event));
}

ChildProcesses::ChildProcesses() : impl(std::make_unique<Impl>()) {}

ChildProcesses::~ChildProcesses() {
    for (size_t i = 0; i < impl->children.size(); ++i) {
        Kill(static_cast<int>(i));
    }
    for (std::unique_ptr<Child>& child : impl->children) {
        for (int stream = 0; stream < 3; ++stream) {
            if (child->readers[stream].joinable()) {
                child->readers[stream].join();
            }
            if (child->pipes[stream] != nullptr) {
                CloseHandle(child->pipes[stream]);
            }
        }
        CloseHandle(child->process);
    }
}

// The children share this program's console, so that the keyboard's Ctrl-C
// reaches each of them as it would reach a run of its own. Each write end is
// closed here as soon as its child has it, so that the next child cannot
// inherit it (its end would then never come). The channel's write end is
// inherited like them; its handle's value is the child's to use.
int ChildProcesses::Start(const std::string& program, const std::vector<std::string>& arguments,
                          bool channel) {
    HANDLE readEnds[3] = {nullptr, nullptr, nullptr};
    HANDLE writeEnds[3] = {nullptr, nullptr, nullptr};
    const int streams = channel ? 3 : 2;
    const HANDLE input = OpenNul();
    bool made = input != INVALID_HANDLE_VALUE;
    for (int stream = 0; made && stream < streams; ++stream) {
        made = MakePipe(readEnds[stream], writeEnds[stream]);
    }
    PROCESS_INFORMATION process{};
    if (made) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input;
        startup.hStdOutput = writeEnds[0];
        startup.hStdError = writeEnds[1];
        std::vector<std::string> given = arguments;
        if (channel) {
            given.push_back(std::to_string(
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(writeEnds[2]))));
        }
        std::string line = CommandLine(given);
        made = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                              nullptr, &startup, &process) != FALSE;
    }
    for (HANDLE handle : {input, writeEnds[0], writeEnds[1], writeEnds[2]}) {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    if (!made) {
        for (HANDLE handle : readEnds) {
            if (handle != nullptr) {
                CloseHandle(handle);
            }
        }
        return -1;
    }
    CloseHandle(process.hThread);
    auto child = std::make_unique<Child>();
    child->process = process.hProcess;
    for (int stream = 0; stream < streams; ++stream) {
        child->pipes[stream] = readEnds[stream];
    }
    child->openStreams = streams;
    const int index = static_cast<int>(impl->children.size());
    Child& started = *child;
    impl->children.push_back(std::move(child));
    for (int stream = 0; stream < streams; ++stream) {
        started.readers[stream] = std::thread(
            [this, &started, index, stream] { impl->ReadPipe(started, index, stream); });
    }
    return index;
}

std::vector<ChildEvent> ChildProcesses::Wait(uint32_t waitMs) {
    std::unique_lock<std::mutex> guard(impl->lock);
    impl->changed.wait_for(guard, std::chrono::milliseconds(waitMs),
                           [this] { return !impl->pending.empty(); });
    std::vector<ChildEvent> events(impl->pending.begin(), impl->pending.end());
    impl->pending.clear();
    for (const ChildEvent& event : events) {
        if (event.kind == ChildEvent::Kind::Ended) {
            impl->children[static_cast<size_t>(event.child)]->ended = true;
        }
    }
    return events;
}

// The console has given the interrupt to every child already; one that has
// no console (nor had this program) cannot have had it and is ended here.
void ChildProcesses::Interrupt(int child, int /*interrupt*/) {
    if (!HasConsole()) {
        Kill(child);
    }
}

void ChildProcesses::Kill(int child) {
    const Child& running = *impl->children[static_cast<size_t>(child)];
    if (!running.ended && WaitForSingleObject(running.process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(running.process, kControlCExitCode);
    }
}

int ChildProcesses::Running() const {
    std::lock_guard<std::mutex> guard(impl->lock);
    int running = 0;
    for (const std::unique_ptr<Child>& child : impl->children) {
        running += child->ended ? 0 : 1;
    }
    return running;
}

std::string RunningProgramPath(const char* argv0) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length > 0 && length < sizeof path) {
        return std::string(path, length);
    }
    return argv0 != nullptr ? argv0 : "vantoir.exe";
}
