#pragma once
// Console mode: a plain terminal on the serial line.

#include "protocol/ProtocolOptions.h"
#include "serial/COMPort.h"

// Optional "?" handshake, then the terminal loop: each key typed goes to the
// board as one byte, the board's output is shown unchanged. Returns only when
// the handshake went unanswered for options.timeoutSeconds (after "Error: No
// answer from the receiver within %u s\n"), with the exit status 1; the
// terminal loop never ends by itself. Port errors pass through to the caller.
int RunConsole(COMPort& port, const ProtocolOptions& options);
