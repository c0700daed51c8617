#pragma once
// Console mode: a plain terminal on the serial line.

#include <cstdint>
#include <string>

#include "protocol/ConsoleSink.h"
#include "protocol/ProtocolOptions.h"
#include "serial/COMPort.h"

// What a console adds to the plain terminal of -C.
struct ConsoleSetup {
    // The console follows a download session on the port as the session left
    // it: no handshake and no line set-up (which could lose a byte on its
    // way in or touch a modem line), only the terminal's read time-out; its
    // banner says that it follows the download.
    bool afterDownload = false;
    // A port that goes away is waited for and opened again (COMPort::Reopen)
    // instead of ending the run with the port's error. Keys typed meanwhile
    // are dropped; the operator's request ends the wait at once.
    bool reconnect = false;
    // Takes the board's output; nullptr: standard output, unchanged.
    ConsoleSink* sink = nullptr;
};

// Optional "?" handshake, then the terminal loop: each key typed goes to the
// board as one byte, the board's output is shown unchanged. Returns only when
// the handshake went unanswered for options.timeoutSeconds (after "Error: No
// answer from the receiver within %u s\n"), with the exit status 1; the
// terminal loop never ends by itself. Port errors pass through to the caller
// (with setup.reconnect, only those of a port that is still there).
int RunConsole(COMPort& port, const ProtocolOptions& options, const ConsoleSetup& setup = {});

// How often a port that went away is looked for, in ms: by its name, and by
// a usb: name (which reads the system's whole list of ports at each look).
inline constexpr uint32_t kReconnectPollMs = 250;
inline constexpr uint32_t kReconnectUsbPollMs = 1000;
