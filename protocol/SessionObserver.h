#pragma once
// SessionObserver: what a download session (and the handshake of console
// mode) tells about itself while it runs, for whoever keeps a record of the
// run. The protocol only reports; what becomes of it (a report file, a
// summary) is the listener's business. Every operation has an empty default,
// so a listener takes only what it needs; a session without a listener
// (ProtocolOptions::observer nullptr) tells nobody and runs the same.
//
// Order within a download session: OnPhase(Identify), OnBoardIdentified,
// OnPhase(Request), OnPhase(Upload), OnRecordsSent after every record line
// and OnProgress with each progress line, OnPhase(Count), OnCountConfirmed,
// OnPhase(Flash), OnFlash, OnPhase(Start), OnStartSent, and at the end
// OnOutcome. Console mode tells OnPhase(Console) as its terminal starts
// (after a download too, with --monitor); before it, its handshake (-fp)
// tells OnPhase(Identify) and OnBoardIdentified.
// OnBoardMessage comes whenever the board's "-" line is shown. A
// session ended by a port error, or by an interrupt, stops wherever it was,
// without OnOutcome (an upload cut short by a port error still ends its
// progress: OnProgress with last).
//
// The run's outcome and its name are the program's business (app/Outcome.h);
// SessionOutcome is only what the session can tell of its own end.

#include <cstdint>

enum class SessionPhase {
    Identify,  // waiting for the boot loader ("?")
    Request,   // "R"
    Upload,    // the record lines
    Count,     // "C"
    Flash,     // "W"
    Start,     // "S"
    Console,   // console mode's terminal (after its handshake, -fp): no longer waiting
};

enum class SessionOutcome {
    Complete,
    NoRecords,             // no record line in the file
    CountMismatch,         // the board counted otherwise
    FlashNotAcknowledged,  // "W" got no "+"
    Timeout,               // a wait went unanswered for the time allowed
    FileReadFailed,        // the data file could not be read to its end
};

class SessionObserver {
  public:
    virtual ~SessionObserver() = default;

    virtual void OnPhase(SessionPhase /*phase*/) {}
    // The text of the boot loader's first acknowledgement, after its "+".
    virtual void OnBoardIdentified(const char* /*text*/) {}
    // A "-" line of the board as shown, without its "-".
    virtual void OnBoardMessage(const char* /*text*/) {}
    // Record lines sent so far.
    virtual void OnRecordsSent(int32_t /*count*/) {}
    // The upload's progress, as its progress line shows it: the record lines
    // sent and the share of the file read (whole percent); last for the
    // final one, which ends the upload's progress.
    virtual void OnProgress(int32_t /*lines*/, int /*percent*/, bool /*last*/) {}
    // The count the board reported in answer to "C", matching or not.
    virtual void OnCountConfirmed(int32_t /*count*/) {}
    virtual void OnFlash(bool /*acknowledged*/) {}
    virtual void OnStartSent() {}
    // How the session ended; message is the failure message as printed,
    // without its line end (empty for Complete and FileReadFailed).
    virtual void OnOutcome(SessionOutcome /*outcome*/, const char* /*message*/) {}
};
