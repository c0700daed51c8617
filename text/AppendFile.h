#pragma once
// AppendFile: a file that takes whole lines at its end, each with one write,
// so that several programs appending to the same file at once never mix
// their lines (the system puts every write at the end of the file as it is
// then; on Windows the writers also take turns through a lock, for systems
// that find the end and write there in two steps). One implementation per
// platform (AppendFilePosix.cpp, AppendFileWin32.cpp).
//
// A record (AppendRecord) is more: it is a line of its own even after a
// power loss cut an earlier append short, and it is on stable storage when
// the call returns. Writers of records take turns (flock on POSIX, the lock
// on Windows), so that a torn last line is completed by one of them only.

#include <cstdint>
#include <string>

class AppendFile {
  public:
    AppendFile() = default;
    // Closes the file.
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens path for appending, creating it when it does not exist; false
    // when it cannot be opened.
    bool Open(const char* path);
    // Appends text with one write; false when the file is not open or did
    // not take all of it.
    bool Append(const std::string& text);
    // Appends text, one or more whole lines, with one write, in the writers'
    // turn. A file that does not end in a line end (a line torn by a power
    // loss in the middle of an append) first gets one, in the same write, so
    // that the text starts a line of its own; the torn line is left as it
    // is. The file is then forced to stable storage (fsync; FlushFileBuffers
    // on Windows), and its folder too after Open made the file. False when
    // the file is not open, did not take all of it, or could not be forced
    // to disk.
    bool AppendRecord(const std::string& text);

  private:
    std::intptr_t handle = -1;
    std::string path;
    bool created = false;  // Open made the file; its folder is synced once
};
