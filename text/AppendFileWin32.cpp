#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "text/AppendFile.h"
#include "text/FolderSync.h"

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

HANDLE OpenFile(const char* path, DWORD access) {
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The file's last byte is not a line end. A handle without read access
// takes the file as whole.
bool EndsTorn(HANDLE file) {
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) == 0 || size.QuadPart == 0) {
        return false;
    }
    OVERLAPPED at{};
    const ULONGLONG last = static_cast<ULONGLONG>(size.QuadPart - 1);
    at.Offset = static_cast<DWORD>(last);
    at.OffsetHigh = static_cast<DWORD>(last >> 32);
    char byte = '\n';
    DWORD got = 0;
    return ReadFile(file, &byte, 1, &got, &at) != 0 && got == 1 && byte != '\n';
}

class Turn {
  public:
    explicit Turn(HANDLE turnFile) : file(turnFile) {
        turn.Offset = kTurnOffsetLow;
        turn.OffsetHigh = kTurnOffsetHigh;
        // Waits for the other writers' turns; a lock that cannot be had at
        // all (a file system without byte-range locks) leaves the plain
        // append.
        locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != 0;
    }
    ~Turn() {
        if (locked) {
            UnlockFileEx(file, 0, 1, 0, &turn);
        }
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

  private:
    HANDLE file;
    OVERLAPPED turn{};
    bool locked = false;
};

bool WriteOnce(HANDLE file, const std::string& text) {
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return ok != 0 && written == text.size();
}

}  // namespace

AppendFile::~AppendFile() {
    if (handle != -1) {
        CloseHandle(HandleOf(handle));
    }
}

bool AppendFile::Open(const char* filePath) {
    path = filePath;
    HANDLE file = OpenFile(filePath, FILE_APPEND_DATA | FILE_READ_DATA);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        // A file that may be written but not read: appended without turns.
        file = OpenFile(filePath, FILE_APPEND_DATA);
    }
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    created = GetLastError() != ERROR_ALREADY_EXISTS;
    handle = reinterpret_cast<std::intptr_t>(file);
    return true;
}

bool AppendFile::Append(const std::string& text) {
    if (handle == -1) {
        return false;
    }
    const Turn turn(HandleOf(handle));
    return WriteOnce(HandleOf(handle), text);
}

bool AppendFile::AppendRecord(const std::string& text) {
    if (handle == -1) {
        return false;
    }
    const HANDLE file = HandleOf(handle);
    bool written = false;
    {
        const Turn turn(file);
        written = WriteOnce(file, EndsTorn(file) ? "\n" + text : text);
    }
    // A console or a pipe has nothing on a disk to force.
    if (!written || GetFileType(file) != FILE_TYPE_DISK) {
        return written;
    }
    // Forcing a file to disk asks for a handle with write access, which
    // the append-only one has not; the file's data is the same through
    // either.
    const HANDLE flusher = CreateFileA(path.c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool forced = flusher != INVALID_HANDLE_VALUE && FlushFileBuffers(flusher) != 0;
    if (flusher != INVALID_HANDLE_VALUE) {
        CloseHandle(flusher);
    }
    if (!forced) {
        return false;
    }
    if (created) {
        SyncFolderOf(path.c_str());
        created = false;
    }
    return true;
}
