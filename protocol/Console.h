#pragma once
// Console mode: a plain terminal on the serial line.

#include "protocol/ProtocolOptions.h"
#include "serial/COMPort.h"

// Optional "?" handshake, then the terminal loop: each key typed goes to the
// board as one byte, the board's output is shown unchanged. Never returns;
// port errors pass through to the caller.
[[noreturn]] void RunConsole(COMPort& port, const ProtocolOptions& options);
