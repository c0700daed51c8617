#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "text/SmallFile.h"

namespace {

bool Failed(const char* what, std::string& why) {
    why = std::string(what) + ": error " + std::to_string(GetLastError());
    return false;
}

}  // namespace

bool RewriteSmallFile(const char* path, const std::string& text, std::string& why) {
    const HANDLE file =
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return Failed("cannot open", why);
    }
    OVERLAPPED start{};
    DWORD written = 0;
    bool ok =
        (WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, &start) != 0 &&
         written == text.size()) ||
        Failed("cannot write", why);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(text.size());
    ok =
        ok && ((SetFilePointerEx(file, end, nullptr, FILE_BEGIN) != 0 && SetEndOfFile(file) != 0) ||
               Failed("cannot cut", why));
    ok = ok && (FlushFileBuffers(file) != 0 || Failed("cannot force to disk", why));
    CloseHandle(file);
    return ok;
}
