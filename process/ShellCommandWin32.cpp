// Runs a command through cmd in a job object of its own.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "process/ShellCommand.h"

namespace {

constexpr DWORD kLookEveryMs = 5;

// The program's environment block with additions put in (an entry of the
// same name, compared without case as Windows does, is replaced).
std::vector<char> EnvironmentWith(const EnvironmentAdditions& additions) {
    std::vector<char> block;
    char* strings = GetEnvironmentStringsA();
    for (const char* entry = strings; entry != nullptr && *entry != '\0';
         entry += std::strlen(entry) + 1) {
        bool replaced = false;
        for (const auto& addition : additions) {
            const std::string prefix = addition.first + "=";
            replaced = replaced || _strnicmp(entry, prefix.c_str(), prefix.size()) == 0;
        }
        if (!replaced) {
            block.insert(block.end(), entry, entry + std::strlen(entry) + 1);
        }
    }
    if (strings != nullptr) {
        FreeEnvironmentStringsA(strings);
    }
    for (const auto& addition : additions) {
        const std::string entry = addition.first + "=" + addition.second;
        block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    }
    block.push_back('\0');
    return block;
}

struct Started {
    HANDLE process = nullptr;
    HANDLE job = nullptr;
};

bool Start(const std::string& command, const EnvironmentAdditions& additions, bool outputToError,
           Started& started) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = GetStdHandle(outputToError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string line = "cmd.exe /s /c \"" + command + "\"";
    std::vector<char> environment = EnvironmentWith(additions);
    PROCESS_INFORMATION process{};
    started.job = CreateJobObjectA(nullptr, nullptr);
    const BOOL made = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                     environment.data(), nullptr, &startup, &process);
    if (input != INVALID_HANDLE_VALUE) {
        CloseHandle(input);
    }
    if (!made) {
        if (started.job != nullptr) {
            CloseHandle(started.job);
        }
        return false;
    }
    // In the job before it runs, so that all it starts is in it too.
    if (started.job != nullptr) {
        AssignProcessToJobObject(started.job, process.hProcess);
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    started.process = process.hProcess;
    return true;
}

void EndAll(const Started& started) {
    if (started.job != nullptr) {
        TerminateJobObject(started.job, 1);
    }
    TerminateProcess(started.process, 1);
    WaitForSingleObject(started.process, INFINITE);
}

}  // namespace

ShellCommandEnd RunShellCommand(const std::string& command, const EnvironmentAdditions& additions,
                                uint32_t limitMs, const std::function<bool()>& stop,
                                bool outputToError) {
    std::fflush(stdout);
    std::fflush(stderr);
    ShellCommandEnd end;
    Started started;
    if (!Start(command, additions, outputToError, started)) {
        return end;
    }
    const ULONGLONG begun = GetTickCount64();
    for (;;) {
        if (WaitForSingleObject(started.process, kLookEveryMs) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(started.process, &code);
            end.kind = ShellCommandEnd::Kind::Exited;
            end.status = static_cast<int>(code);
            break;
        }
        if (stop && stop()) {
            EndAll(started);
            end.kind = ShellCommandEnd::Kind::Stopped;
            break;
        }
        if (limitMs != 0 && GetTickCount64() - begun >= limitMs) {
            EndAll(started);
            end.kind = ShellCommandEnd::Kind::TimedOut;
            break;
        }
    }
    CloseHandle(started.process);
    if (started.job != nullptr) {
        CloseHandle(started.job);
    }
    return end;
}
