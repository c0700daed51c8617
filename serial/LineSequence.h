#pragma once
// A sequence of changes of the port's output lines (DTR, RTS) and waits, as
// a fixture uses them to reset, power or start a board: "dtr=0,5000ms,dtr=1"
// or "dtr=1+rts=1,100ms,rts=0,50ms,dtr=0".
//
// The text is a comma-separated list of steps, in lower case, without
// blanks. A step is a wait, "Nms" (1 to 60000), or a setting of one or both
// lines, "dtr=0", "rts=1", "dtr=1+rts=0" (1 = asserted); the lines of one
// step change together, in one call of the platform (COMPort::SetModemLines).
// The level of an input line, "dsr=1", has the same form (ParseLineLevel).

#include <cstdint>
#include <string>
#include <vector>

class COMPort;

struct LineStep {
    uint32_t waitMs = 0;  // a wait when not 0; then no line is set
    int dtr = -1;         // 1 asserted, 0 dropped, -1 not named
    int rts = -1;
};

struct LineSequence {
    std::string text;  // as given
    std::vector<LineStep> steps;
};

inline constexpr uint32_t kLongestLineWaitMs = 60000;

// Parses text; false with why (one sentence for the operator, with its full
// stop) when it is not a sequence.
bool ParseLineSequence(const char* text, LineSequence& sequence, std::string& why);

// Runs the steps in order on port. With interruptible, a request to end the
// run (serial/Interrupt.h) ends a wait at once with InterruptedError;
// otherwise (the sequence that ends a board's session, which runs also
// after an interrupt) every wait runs to its end. Port errors pass through.
void RunLineSequence(COMPort& port, const LineSequence& sequence, bool interruptible);

// An input line and the level a fixture's start signal waits for: "dsr=1",
// "dcd=0", "ri=1", "cts=1". modemBit is the line's kModem* bit
// (serial/PortPlatform.h).
struct LineLevel {
    std::string text;  // as given
    uint8_t modemBit = 0;
    bool asserted = true;
};

// Parses text; false with why when it is not a level of an input line.
bool ParseLineLevel(const char* text, LineLevel& level, std::string& why);
