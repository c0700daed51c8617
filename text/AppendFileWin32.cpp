#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "text/AppendFile.h"

namespace {

HANDLE HandleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

AppendFile::~AppendFile() {
    if (handle != -1) {
        CloseHandle(HandleOf(handle));
    }
}

bool AppendFile::Open(const char* path) {
    // Append-only access: the system places every write at the end of the
    // file, also against other writers.
    const HANDLE file =
        CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    DWORD written = 0;
    const BOOL ok = WriteFile(HandleOf(handle), text.data(), static_cast<DWORD>(text.size()),
                              &written, nullptr);
    return ok != 0 && written == text.size();
}
