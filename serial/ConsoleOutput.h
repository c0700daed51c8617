#pragma once
// ConsoleOutput: what the program's standard output can show, for a display
// that redraws its lines in place (a gang of ports) or the whole screen (the
// operator's). One implementation per
// platform (ConsoleOutputPosix.cpp, ConsoleOutputWin32.cpp).

// Standard output is a terminal that takes cursor movements (on Windows
// after turning on its handling of terminal sequences, which is given back at
// exit); false when it is a pipe, a file, a terminal of type "dumb" (or none
// set), or a console that cannot.
bool OutputTakesCursorMovements();
// Such a terminal also shows colours (ANSI SGR): on POSIX unless its type
// says it has none (vt52, vt100, vt220, ... or a "-m"/"-mono" variant); on
// Windows a console whose terminal sequences are on.
bool OutputTakesColour();
// The size of standard output's terminal; 80 by 24 when unknown.
struct OutputSize {
    int columns = 80;
    int rows = 24;
};
OutputSize OutputTerminalSize();
