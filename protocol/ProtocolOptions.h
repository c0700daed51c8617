#pragma once
// What the protocol modes need of the program's settings. The program flow
// fills it from its Settings record once the command line is parsed.

#include <cstdint>

class RecordLineFilter;
class BoardStarter;
class SessionObserver;

struct ProtocolOptions {
    uint32_t baudRate = 115200;
    bool debug = false;             // echo "Sent: " and "Received: " lines
    bool sendStart = true;          // download: end with "S"
    bool writeFlash = false;        // download: send "W" after the count check
    bool consoleHandshake = false;  // console: "?" handshake first
    bool showPrompt = true;         // download: the power-cycle prompt
    // download: the progress lines on standard output (the observer is told
    // of the progress either way).
    bool showProgress = true;
    // How long "?" polling and the resends of "R" and "C" may go unanswered,
    // each counted from the first command of its phase; 0: without limit.
    uint32_t timeoutSeconds = 0;
    // Told what the session does (protocol/SessionObserver.h); nullptr:
    // nobody listens. Not owned.
    SessionObserver* observer = nullptr;
    // Download: every record line passes through it before it is sent
    // (text/RecordLineFilter.h); nullptr: the lines go out as read. Not
    // owned.
    RecordLineFilter* recordFilter = nullptr;
    // Download: starts the board in place of the power-cycle prompt
    // (protocol/BoardStarter.h); nullptr: the prompt as showPrompt says. Not
    // owned.
    BoardStarter* boardStarter = nullptr;
};
