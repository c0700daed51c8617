#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "text/AppendFile.h"

namespace {

// Writers of one file take turns through an exclusive lock on one byte far
// past any end the file will reach. An append-only handle has each write
// placed at the end, yet not every implementation of the call finds the end
// and writes there in one step (Wine reads the size, then writes at it), so
// two runs appending at once could write at the same place and one record
// would be lost. The read access is what the lock call asks of a handle; the
// handle stays append-only, having no write-data access.
constexpr DWORD kTurnOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kTurnOffsetLow = 0xFFFFFFFE;

HANDLE HandleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

HANDLE OpenForAppend(const char* path, DWORD access) {
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

AppendFile::~AppendFile() {
    if (handle != -1) {
        CloseHandle(HandleOf(handle));
    }
}

bool AppendFile::Open(const char* path) {
    HANDLE file = OpenForAppend(path, FILE_APPEND_DATA | FILE_READ_DATA);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        // A file that may be written but not read: appended without turns.
        file = OpenForAppend(path, FILE_APPEND_DATA);
    }
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    handle = reinterpret_cast<std::intptr_t>(file);
    return true;
}

bool AppendFile::Append(const std::string& text) {
    if (handle == -1) {
        return false;
    }
    const HANDLE file = HandleOf(handle);
    OVERLAPPED turn{};
    turn.Offset = kTurnOffsetLow;
    turn.OffsetHigh = kTurnOffsetHigh;
    // Waits for the other writers' turns; a lock that cannot be had at all
    // (a file system without byte-range locks) leaves the plain append.
    const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != 0;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    if (locked) {
        UnlockFileEx(file, 0, 1, 0, &turn);
    }
    return ok != 0 && written == text.size();
}
