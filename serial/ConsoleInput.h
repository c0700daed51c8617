#pragma once
// ConsoleInput: the keyboard of console mode, read from standard input.
// One implementation per platform (ConsoleInputPosix.cpp, ConsoleInputWin32.cpp).
//
// POSIX systems. When standard input is a terminal, construction puts it in key-at-a-time
// mode: no echo, no line editing, no CR/LF mapping, no flow-control or
// literal-next characters; the interrupt key (Ctrl-C) still ends the program,
// while the quit and suspend characters reach the board like any other key.
// Output processing is left as it was. The settings found are given back on
// every way out: the destructor, program exit, and SIGINT, SIGTERM, SIGHUP,
// SIGQUIT, SIGPIPE and SIGABRT, after which the signal takes its usual course
// (so the exit status is the one the signal gives): a signal the run
// handles itself (serial/Interrupt.h) goes on to its handler, which ends the
// run in order, any other is raised again. Key sequences of cursor,
// function and editing keys are dropped (see TerminalKeys.h).
//
// Any other standard input (a pipe, a file, /dev/null) is left untouched and
// its bytes are taken unchanged, one character each; at its end the input is
// no longer looked at.
//
// Standard input is never made non-blocking: PollKey waits for readiness with
// the time it is given (0: only looks), then reads what is there.
//
// Windows. When standard input is a console, construction sets its input
// mode to processed input only (key at a time, no echo, Ctrl-C and
// Ctrl-Break still end the program) and keys are taken from its input
// records: one character per key press, nothing for keys without one. The
// mode found is given back by the destructor, at program exit, and by a
// console control handler on Ctrl-C, Ctrl-Break and the closing of the
// console; after Ctrl-C or Ctrl-Break the program ends with exit code
// 0xC000013A, as the system's own handler would (through the run's own
// handler when it has one, serial/Interrupt.h). Any other standard input (a
// pipe, a file, NUL) is taken byte for byte as above; its end stops the
// keyboard.
//
// Only one ConsoleInput may exist at a time.

#include <cstdint>
#include <string>

#include "serial/TerminalKeys.h"

class ConsoleInput {
  public:
    // Takes standard input as described above.
    ConsoleInput();
    // Gives the terminal back as it was found.
    ~ConsoleInput();
    ConsoleInput(const ConsoleInput&) = delete;
    ConsoleInput& operator=(const ConsoleInput&) = delete;

    // Waits up to waitMs for input. Returns 1 and stores the next character
    // to send in key, or 0 when none is waiting. Keys without a character are
    // consumed and yield nothing. A lone Escape is given out after a wait of
    // kEscapeWaitMs for a sequence to follow.
    int PollKey(uint32_t waitMs, char& key);

    // Standard input is a terminal that was put in key-at-a-time mode.
    bool IsTerminal() const { return terminal; }
    // Standard input has ended (or failed); PollKey looks at it no more.
    bool Ended() const { return ended; }

    // How long the bytes of one key's sequence may be apart.
    static constexpr uint32_t kEscapeWaitMs = 50;

  private:
    // Waits up to waitMs for standard input to be readable.
    bool WaitReadable(uint32_t waitMs);
    // Reads what is waiting and turns it into characters.
    void ReadAvailable();
    void TakeBytes(const uint8_t* bytes, std::size_t count);
    // Gives out the next decoded character; false when none is left.
    bool TakeCharacter(char& key);

    bool terminal = false;
    bool ended = false;
    TerminalKeys keys;
    std::string characters;  // decoded, not yet given out
    std::size_t nextCharacter = 0;
};
