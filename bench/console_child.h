#pragma once
// Helpers of the console benchmarks: the program in console mode as a child
// process, with a pseudo-terminal as its keyboard and controlling terminal,
// and the CPU time a process has used so far.

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "sim/PseudoTerminal.h"

namespace console_bench {

// The running program: pid and the read end of its standard output.
struct ConsoleChild {
    pid_t pid = -1;
    int stdoutFd = -1;
};

// Starts vantoir -P port -C (and extra, a switch more such as --reconnect)
// in a session of its own, keyboard as standard input and controlling
// terminal, standard output into a pipe.
inline ConsoleChild StartConsole(const std::string& port, const std::string& keyboardPath,
                                 const char* extra = nullptr) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        std::perror("pipe");
        std::exit(2);
    }
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        const int keyboard = open(keyboardPath.c_str(), O_RDWR);
        ioctl(keyboard, TIOCSCTTY, 0);
        dup2(keyboard, STDIN_FILENO);
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        execl(VANTOIR_BINARY, VANTOIR_BINARY, "-P", port.c_str(), "-C", extra,
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    return ConsoleChild{pid, pipeFds[0]};
}

// Reads the child's output until it contains text; what was read is
// appended to seen.
inline bool ReadUntil(int fd, const std::string& text, std::string& seen) {
    char buffer[4096];
    while (seen.find(text) == std::string::npos) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count <= 0) {
            return false;
        }
        seen.append(buffer, static_cast<size_t>(count));
    }
    return true;
}

inline void StopChild(pid_t pid) {
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

// CPU time (user and system) the process has used, in nanoseconds, from the
// scheduler's own count.
inline int64_t CpuNanoseconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/schedstat");
    int64_t running = -1;
    stat >> running;
    return running;
}

// How often the process has gone to sleep and been woken since it started.
inline int64_t Wakeups(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string key = "voluntary_ctxt_switches:";
    while (std::getline(status, line)) {
        if (line.compare(0, key.size(), key) == 0) {
            return std::stoll(line.substr(key.size()));
        }
    }
    return -1;
}

}  // namespace console_bench
