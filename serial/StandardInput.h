#pragma once
// StandardInput: standard input read as it comes, for answers that are
// typed or scanned line by line (a board's label). Nothing of the input is
// changed: a terminal stays in its own line mode (it echoes and edits the
// line, and hands it over once Enter is pressed), a pipe or a file is read
// as it is. Console mode's keyboard is serial/ConsoleInput.h. One
// implementation per platform (StandardInputPosix.cpp,
// StandardInputWin32.cpp).

#include <cstdint>
#include <string>

enum class InputRead {
    Bytes,    // bytes were appended
    Waiting,  // nothing came within the wait, or a request to end the run cut it short
    Ended,    // standard input has ended, or cannot be read
};

// Waits up to waitMs for standard input and appends what is waiting to
// bytes. The operator's request to end the run (serial/Interrupt.h) cuts the
// wait short; the caller looks at it.
InputRead ReadStandardInput(std::string& bytes, uint32_t waitMs);

// Standard input is a terminal (on Windows a console), which shows what is
// typed itself.
bool StandardInputIsTerminal();
