#pragma once
// AppendFile: a file that takes whole lines at its end, each with one write,
// so that several programs appending to the same file at once never mix
// their lines (the system puts every write at the end of the file as it is
// then; on Windows the writers also take turns through a lock, for systems
// that find the end and write there in two steps). One implementation per
// platform (AppendFilePosix.cpp, AppendFileWin32.cpp).

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

  private:
    std::intptr_t handle = -1;
};
