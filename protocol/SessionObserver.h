#pragma once
// SessionObserver: what a download session (and the handshake of console
// mode) tells about itself while it runs, for whoever keeps a record of the
// run. The protocol only reports; what becomes of it (a report file, a
// summary) is the listener's business. Every operation has an empty default,
// so a listener takes only what it needs; a session without a listener
// (ProtocolOptions::observer nullptr) tells nobody and runs the same.
//
// Order within a download session: OnPhase(Identify), OnBoardIdentified,
// OnPhase(Request), OnPhase(Upload), OnRecordsSent after every record line,
// OnPhase(Count), OnCountConfirmed, OnPhase(Flash), OnFlash, OnPhase(Start),
// OnStartSent, and at the end OnOutcome. OnBoardMessage comes whenever the
// board's "-" line is shown. A session ended by a port error, or by an
// interrupt, stops wherever it was, without OnOutcome.

#include <cstdint>
#include <vector>

enum class SessionPhase {
    Identify,  // waiting for the boot loader ("?")
    Request,   // "R"
    Upload,    // the record lines
    Count,     // "C"
    Flash,     // "W"
    Start,     // "S"
};

enum class SessionOutcome {
    Complete,
    NoRecords,             // no record line in the file
    CountMismatch,         // the board counted otherwise
    FlashNotAcknowledged,  // "W" got no "+"
    Timeout,               // a wait went unanswered for the time allowed
    FileReadFailed,        // the data file could not be read to its end
};

// The outcome's name in records and tallies: "complete", "no-records",
// "count-mismatch", "flash-not-acknowledged", "timeout", "file-error".
const char* SessionOutcomeName(SessionOutcome outcome);

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
    // The count the board reported in answer to "C", matching or not.
    virtual void OnCountConfirmed(int32_t /*count*/) {}
    virtual void OnFlash(bool /*acknowledged*/) {}
    virtual void OnStartSent() {}
    // How the session ended; message is the failure message as printed,
    // without its line end (empty for Complete and FileReadFailed).
    virtual void OnOutcome(SessionOutcome /*outcome*/, const char* /*message*/) {}
};

// Tells each of its listeners, in the order they were added.
class SessionObservers : public SessionObserver {
  public:
    // listener: not owned; nullptr is ignored.
    void Add(SessionObserver* listener);

    void OnPhase(SessionPhase phase) override;
    void OnBoardIdentified(const char* text) override;
    void OnBoardMessage(const char* text) override;
    void OnRecordsSent(int32_t count) override;
    void OnCountConfirmed(int32_t count) override;
    void OnFlash(bool acknowledged) override;
    void OnStartSent() override;
    void OnOutcome(SessionOutcome outcome, const char* message) override;

  private:
    std::vector<SessionObserver*> listeners;
};
