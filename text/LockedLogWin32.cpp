#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "text/LockedLog.h"

namespace {

HANDLE HandleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// The whole file, however long it grows.
constexpr DWORD kWholeLow = MAXDWORD;
constexpr DWORD kWholeHigh = MAXDWORD;

std::string SystemText(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length != 0 && text != nullptr ? std::string(text, length)
                                                        : "error " + std::to_string(code);
    LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.')) {
        result.pop_back();
    }
    return result;
}

bool MoveTo(HANDLE file, int64_t at, DWORD from) {
    LARGE_INTEGER distance;
    distance.QuadPart = at;
    return SetFilePointerEx(file, distance, nullptr, from) != 0;
}

}  // namespace

LockedLog::~LockedLog() {
    Unlock();
    if (handle != -1) {
        CloseHandle(HandleOf(handle));
    }
}

bool LockedLog::Fail(const char* what) {
    error = std::string(what) + ": " + SystemText(GetLastError());
    return false;
}

bool LockedLog::Open(const char* path) {
    const HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Fail("cannot open");
    }
    handle = reinterpret_cast<std::intptr_t>(file);
    return true;
}

bool LockedLog::OpenForReading(const char* path) {
    const HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Fail("cannot open");
    }
    handle = reinterpret_cast<std::intptr_t>(file);
    return true;
}

bool LockedLog::Lock() {
    OVERLAPPED whole{};
    if (LockFileEx(HandleOf(handle), LOCKFILE_EXCLUSIVE_LOCK, 0, kWholeLow, kWholeHigh, &whole) ==
        0) {
        return Fail("cannot lock");
    }
    locked = true;
    return true;
}

void LockedLog::Unlock() {
    if (locked) {
        OVERLAPPED whole{};
        UnlockFileEx(HandleOf(handle), 0, kWholeLow, kWholeHigh, &whole);
        locked = false;
    }
}

bool LockedLog::ReadAll(std::string& content) {
    content.clear();
    const HANDLE file = HandleOf(handle);
    if (!MoveTo(file, 0, FILE_BEGIN)) {
        return Fail("cannot read");
    }
    char block[65536];
    for (;;) {
        DWORD got = 0;
        if (ReadFile(file, block, sizeof block, &got, nullptr) == 0) {
            return Fail("cannot read");
        }
        if (got == 0) {
            return true;
        }
        content.append(block, got);
    }
}

bool LockedLog::CutTo(int64_t length) {
    const HANDLE file = HandleOf(handle);
    if (!MoveTo(file, length, FILE_BEGIN) || SetEndOfFile(file) == 0) {
        return Fail("cannot cut");
    }
    return true;
}

bool LockedLog::Append(const std::string& text) {
    const HANDLE file = HandleOf(handle);
    LARGE_INTEGER start;
    LARGE_INTEGER none;
    none.QuadPart = 0;
    if (SetFilePointerEx(file, none, &start, FILE_END) == 0) {
        return Fail("cannot write");
    }
    for (size_t done = 0; done < text.size();) {
        DWORD wrote = 0;
        if (WriteFile(file, text.data() + done, static_cast<DWORD>(text.size() - done), &wrote,
                      nullptr) == 0 ||
            wrote == 0) {
            return CutBack(start.QuadPart, "cannot write");
        }
        done += wrote;
    }
    return FlushFileBuffers(file) != 0 || CutBack(start.QuadPart, "cannot force to disk");
}

bool LockedLog::CutBack(int64_t length, const char* what) {
    Fail(what);
    const HANDLE file = HandleOf(handle);
    if (MoveTo(file, length, FILE_BEGIN)) {
        SetEndOfFile(file);
    }
    return false;
}
