#include <windows.h>

#include <cstdio>

#include "text/Shown.h"

// Straight to the handle: the C runtime would turn each LF into CR LF.
bool WriteWholeLine(const std::string& line) {
    std::fflush(stdout);
    DWORD written = 0;
    const BOOL ok = WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(),
                              static_cast<DWORD>(line.size()), &written, nullptr);
    return ok != 0 && written == line.size();
}
