#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "serial/ConsoleOutput.h"

// A terminal that says it is "dumb" (an editor's shell buffer) cannot move
// its cursor.
bool OutputTakesCursorMovements() {
    const char* terminal = std::getenv("TERM");
    return isatty(STDOUT_FILENO) != 0 && terminal != nullptr && std::string(terminal) != "dumb";
}

bool OutputTakesColour() {
    if (!OutputTakesCursorMovements()) {
        return false;
    }
    const std::string terminal = std::getenv("TERM");
    const auto endsWith = [&terminal](const std::string& tail) {
        return terminal.size() >= tail.size() &&
               terminal.compare(terminal.size() - tail.size(), tail.size(), tail) == 0;
    };
    return terminal.rfind("vt", 0) != 0 && !endsWith("-m") && !endsWith("-mono");
}

OutputSize OutputTerminalSize() {
    OutputSize size;
    winsize window{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &window) == 0 && window.ws_col > 0 && window.ws_row > 0) {
        size.columns = window.ws_col;
        size.rows = window.ws_row;
    }
    return size;
}
