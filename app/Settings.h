#pragma once
// The program-wide settings, filled once from the command line and read-only
// afterwards.

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/ProtocolOptions.h"

inline constexpr uint8_t ModeDownload = 0;
inline constexpr uint8_t ModeConsole = 1;
inline constexpr uint8_t ModeRaw = 2;

inline constexpr uint8_t kLineStampsNone = 0;
inline constexpr uint8_t kLineStampsElapsed = 1;   // seconds since the console started
inline constexpr uint8_t kLineStampsDateTime = 2;  // local date and time

struct Settings {
    const char* portName = "COM1";  // the argument's own text
    int32_t baudRate = 115200;
    const char* dataFile = "";  // the argument's own text
    int32_t sendStart = 1;
    int32_t debug = 0;
    int32_t writeFlash = 0;
    int32_t consoleHandshake = 0;
    uint8_t mode = ModeDownload;
    int32_t checkImage = 0;  // --check: the data file is checked before a download
    int32_t checkOnly = 0;   // --check-only: the data file is checked, nothing else
    // --word-size: the bytes of the unit the image's addresses count, for the
    // image check and the stamp (1: bytes; 2 or 4: words of 16 or 32 bits).
    uint32_t wordBytes = 1;
    // --timeout: seconds each unanswered wait for the boot loader may last;
    // 0: without limit.
    uint32_t timeoutSeconds = 0;
    // --report: the file that gets one JSON line per run; nullptr: none.
    const char* reportFile = nullptr;
    // --report-db: the factory's database the records are forwarded to from
    // the report file (app/factory/); nullptr: none.
    const char* reportDb = nullptr;
    // --forward-records: forward the report file's records, nothing else.
    bool forwardRecords = false;
    // --repeat, --boards: download board after board; boards 0: until the
    // operator ends the run.
    bool repeat = false;
    uint32_t boards = 0;
    // --monitor: a complete download goes on as a console on the same port.
    bool monitor = false;
    // --reconnect: a console waits for a port that went away to come back.
    bool reconnect = false;
    // --log: the file a console appends the board's output to; nullptr: none.
    const char* logFile = nullptr;
    // --timestamps, --timestamps-iso: what a console puts in front of each
    // line of the board's output.
    uint8_t lineStamps = 0;              // kLineStamps*
    const char* gang = nullptr;          // --gang: the ports, separated by commas
    std::vector<std::string> gangPorts;  // the ports of --gang, one each
    // A run started by a gang for one of its ports: the number of its channel
    // of events (process/ParentChannel.h); nullptr for any other run.
    const char* gangMember = nullptr;
    // --stamp and its companions, as given (app/stamp/StampPlan.h reads
    // them); nullptr: not given.
    const char* stamp = nullptr;
    const char* stampLedger = nullptr;
    const char* stampStart = nullptr;
    const char* stampStep = nullptr;
    const char* stampLast = nullptr;
    const char* stampList = nullptr;
    // --stamp-overwrite: a field that is not blank may be stamped all the same.
    bool stampOverwrite = false;
    // A fixture that starts boards by itself (app/fixture/Fixture.h); each nullptr
    // when not given. The texts are checked by the command line.
    const char* resetSequence = nullptr;     // --reset: lines and waits
    const char* resetEndSequence = nullptr;  // --reset-end: after each board
    const char* powerCommand = nullptr;      // --power-command
    const char* powerOffCommand = nullptr;   // --power-off-command: after each board
    const char* startWhen = nullptr;         // --start-when: an input line's level
    // --result-command: run once each board's outcome is known; nullptr: none.
    const char* resultCommand = nullptr;
    // The board's label (app/operator/BoardLabels.h): --label, or the one a
    // gang asked for one of its runs (--gang-label); nullptr: none.
    const char* label = nullptr;
    bool askLabel = false;               // --ask-label: asked before each board
    const char* labelFrom = nullptr;     // --label-from: the scanner's port; nullptr: none
    uint32_t labelBaud = 9600;           // --label-baud
    const char* labelPattern = nullptr;  // --label-pattern: checked when given
    // --operator-screen: the result across the screen after each board.
    bool operatorScreen = false;
    // --image-sha256: the digest every board's data must have, in lower
    // case; empty: none.
    std::string imageSha256;
    // --run-id: the run's name in its records; nullptr: one is generated.
    const char* runId = nullptr;
    // --station: any text, recorded as the station; nullptr: none.
    const char* station = nullptr;
    // --events: the file the run's events are appended to; nullptr: none.
    // eventsToOutput: "-", standard output instead of the messages.
    const char* eventsFile = nullptr;
    bool eventsToOutput = false;
    // The commands the run starts write their output to standard error:
    // standard output holds events (here or in the run's gang).
    bool commandsToError = false;
    // --yield: the sources of a yield summary (app/yield/Yield.h), record
    // files or PostgreSQL URLs, as given; empty: no summary. With it,
    // --station is the list of stations to include, and --since, --until
    // (checked times), --csv and --html apply.
    std::vector<std::string> yieldSources;
    const char* since = nullptr;
    const char* until = nullptr;
    const char* csvFile = nullptr;
    const char* htmlFile = nullptr;
    // The digest of the image a gang has checked, given to each of its runs
    // (--checked-image), which sends only that image; nullptr: none.
    const char* checkedImage = nullptr;
};

// What the protocol modes take of the settings. A negative baud rate passes
// on as its 32-bit pattern, which the port refuses.
ProtocolOptions ToProtocolOptions(const Settings& settings);
