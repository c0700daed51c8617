#pragma once
// RunShellCommand: one command line run through the system's command
// interpreter (POSIX: /bin/sh -c COMMAND; Windows: cmd /s /c "COMMAND"),
// waited for. One implementation per platform (ShellCommandPosix.cpp,
// ShellCommandWin32.cpp).
//
// The command gets standard input empty (/dev/null, NUL) and writes to the
// program's own standard output and standard error (flushed first), so that
// its words show as the run's. Values for it are passed in environment
// variables, added to (or replacing those of) the program's environment;
// they are never put into the command text.
//
// The command and everything it starts belong together (a process group; a
// job object): a command still running at the time limit, or when stop()
// says so (looked at every few milliseconds), is ended with all of it.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct ShellCommandEnd {
    enum class Kind {
        Exited,      // status is the exit status
        Signalled,   // POSIX: ended by a signal, whose number is status
        TimedOut,    // still running at the limit: ended
        Stopped,     // stop() said so: ended
        NotStarted,  // the interpreter could not be started
    };
    Kind kind = Kind::NotStarted;
    int status = 0;
};

using EnvironmentAdditions = std::vector<std::pair<std::string, std::string>>;

// limitMs 0: no time limit. stop may be empty. outputToError: the command's
// standard output goes to the program's standard error instead (when
// standard output holds something else).
ShellCommandEnd RunShellCommand(const std::string& command, const EnvironmentAdditions& additions,
                                uint32_t limitMs, const std::function<bool()>& stop,
                                bool outputToError = false);
