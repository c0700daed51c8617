// Runs a command through /bin/sh in a process group of its own.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "process/ShellCommand.h"

extern char** environ;

namespace {

constexpr auto kLookEvery = std::chrono::milliseconds(5);

// The program's environment with additions put in (an entry of the same
// name is replaced).
std::vector<std::string> EnvironmentWith(const EnvironmentAdditions& additions) {
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        bool replaced = false;
        for (const auto& addition : additions) {
            const std::string prefix = addition.first + "=";
            replaced = replaced || std::strncmp(*entry, prefix.c_str(), prefix.size()) == 0;
        }
        if (!replaced) {
            entries.emplace_back(*entry);
        }
    }
    for (const auto& addition : additions) {
        entries.push_back(addition.first + "=" + addition.second);
    }
    return entries;
}

pid_t Spawn(const std::string& command, const EnvironmentAdditions& additions, bool outputToError) {
    std::vector<std::string> environment = EnvironmentWith(additions);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string shell = "sh";
    std::string flag = "-c";
    std::string text = command;
    char* argv[] = {shell.data(), flag.data(), text.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outputToError) {
        posix_spawn_file_actions_adddup2(&actions, 2, 1);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    // A group of its own: the command can be ended with all it started.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int result = posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return result == 0 ? pid : -1;
}

void EndGroup(pid_t pid) {
    killpg(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

ShellCommandEnd RunShellCommand(const std::string& command, const EnvironmentAdditions& additions,
                                uint32_t limitMs, const std::function<bool()>& stop,
                                bool outputToError) {
    std::fflush(stdout);
    std::fflush(stderr);
    ShellCommandEnd end;
    const pid_t pid = Spawn(command, additions, outputToError);
    if (pid < 0) {
        return end;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            end.kind = WIFEXITED(status) ? ShellCommandEnd::Kind::Exited
                                         : ShellCommandEnd::Kind::Signalled;
            end.status = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
            return end;
        }
        if (ended < 0 && errno != EINTR) {
            end.kind = ShellCommandEnd::Kind::NotStarted;
            return end;
        }
        if (stop && stop()) {
            EndGroup(pid);
            end.kind = ShellCommandEnd::Kind::Stopped;
            return end;
        }
        if (limitMs != 0 && Clock::now() >= limit) {
            EndGroup(pid);
            end.kind = ShellCommandEnd::Kind::TimedOut;
            return end;
        }
        std::this_thread::sleep_for(kLookEvery);
    }
}
