#pragma once
// LockedLog: a file of lines that many programs share, each in turn: one
// holds it exclusively while it reads it whole and appends, and every append
// is forced to stable storage before Append returns. The lock is the
// system's own on the open file (flock on POSIX, LockFileEx on Windows), so
// it goes with the program: a program killed while holding it holds it no
// more. Such locks are not to be trusted on network file systems. One
// implementation per platform (LockedLogPosix.cpp, LockedLogWin32.cpp).
//
// Every operation returns false on failure and leaves why it failed (the
// system's words) in Error().

#include <cstdint>
#include <string>

class LockedLog {
  public:
    LockedLog() = default;
    // Unlocks and closes the file.
    ~LockedLog();
    LockedLog(const LockedLog&) = delete;
    LockedLog& operator=(const LockedLog&) = delete;

    // Opens path for reading and writing, creating it (empty) when it does
    // not exist; a file created here is made to last (its folder is synced
    // too where the system allows).
    bool Open(const char* path);
    // Opens path, which must exist, for reading only (nothing is made).
    bool OpenForReading(const char* path);
    // Waits until this program holds the file alone.
    bool Lock();
    void Unlock();
    // The whole file as it is now.
    bool ReadAll(std::string& content);
    // Cuts the file to length bytes (a last line left unfinished).
    bool CutTo(int64_t length);
    // Writes text at the end of the file and forces it to stable storage.
    // An append that fails part-way (a full disk) is cut off again: the file
    // is left as it was, never with a torn line at its end.
    bool Append(const std::string& text);

    const std::string& Error() const { return error; }

  private:
    bool Fail(const char* what);
    // Fails with what (the system's words kept), the file cut to length.
    bool CutBack(int64_t length, const char* what);

    std::intptr_t handle = -1;
    bool locked = false;
    std::string error;
};
