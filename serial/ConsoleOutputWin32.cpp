#include <windows.h>

#include <cstdlib>

#include "serial/ConsoleOutput.h"

namespace {

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
constexpr DWORD ENABLE_VIRTUAL_TERMINAL_PROCESSING = 0x0004;
#endif

// The console's output mode as found, given back at exit once terminal
// sequences were turned on.
DWORD foundOutputMode = 0;

void RestoreOutputMode() {
    SetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), foundOutputMode);
}

}  // namespace

bool OutputTakesCursorMovements() {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (output == nullptr || output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode)) {
        return false;
    }
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
        return true;
    }
    if (!SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        return false;
    }
    foundOutputMode = mode;
    std::atexit(RestoreOutputMode);
    return true;
}

bool OutputTakesColour() {
    return OutputTakesCursorMovements();
}

OutputSize OutputTerminalSize() {
    OutputSize size;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
        if (columns > 0 && rows > 0) {
            size.columns = columns;
            size.rows = rows;
        }
    }
    return size;
}
