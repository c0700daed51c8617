#pragma once
// RunObserver: the one story of a run, as its listeners hear it. Beside what
// the download session tells (SessionObserver), the run tells what is its
// own: the run begins, its port is opened, the image a board gets, each
// board begins (with its label), a fixture does a step, a board gets its
// number, a board ends (with its record), the run ends. The record (app/report/RunReport.h),
// the event stream (app/events/EventStream.h) and whoever else consumes the
// run listen here; nobody is handed to the parts of the run one by one.
//
// RunListeners fans every fact out to each listener, in the order they were
// added; app/RunStory.h tells the facts and decides how boards end.
//
// Order within a run: OnRunBegin; for each board OnBoardBegin, then
// OnFixtureStep (a start signal awaited, the power command, the line
// sequence), the session's own facts and OnStamp as they happen, then
// OnFixtureStep (the end sequence, the power-off command, the result
// command), OnStampClosed (for a board that got a number: when its closing
// was tried, at the session's own end or before the end sequence) and
// OnBoardEnd; last OnRunEnd. OnPort,
// OnImage and OnImageRefused come when they are known. A run stopped while
// it waits for a board has no OnBoardEnd for it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/Outcome.h"
#include "protocol/SessionObserver.h"

struct RunBegin {
    std::string runId;
    const char* station = nullptr;  // nullptr: none
    uint8_t mode = 0;               // ModeDownload, ModeConsole, ModeRaw
    std::string port;               // as given
    int32_t baud = 0;
    const char* file = nullptr;  // as given; nullptr in console mode
};

// The port opened: the device, and the adapter when the system tells it.
struct PortFacts {
    std::string device;
    std::optional<std::string> usbId;  // "VID:PID"
    std::optional<std::string> usbSerial;
};

// A refused image: its summary line and each finding as shown.
struct ImageRefusal {
    std::string refusal;
    std::vector<std::string> findings;
};

// What a fixture did for the board (app/fixture/Fixture.h).
struct FixtureStep {
    enum class Kind {
        StartSignal,      // the wait for the start signal: line, seconds
        PowerCommand,     // command, ended, status
        Reset,            // the line sequence run: sequence
        ResetEnd,         // the end sequence run after the session: sequence
        PowerOffCommand,  // after the session: command, ended, status
        ResultCommand,    // once the outcome is known: command, ended, status
    };
    Kind kind = Kind::Reset;
    std::string line;
    double seconds = 0;
    std::string command;
    std::string ended;  // "exited", "signal", "timeout", "interrupted", "not-started"
    std::optional<int> status;
    std::string sequence;
};

// The number the board got (app/stamp/Stamping.h).
struct StampNote {
    bool isText = false;  // bytes:N: the value is text
    uint64_t number = 0;
    std::string text;  // as shown
    uint32_t address = 0;
    std::string format;
    std::string ledger;  // a password shown as ***
};

struct BoardBegin {
    std::optional<uint32_t> number;    // in a run of several boards
    std::optional<std::string> label;  // --label, --ask-label; nothing: none
};

struct BoardEnd {
    std::optional<uint32_t> number;  // in a run of several boards
    RunOutcome outcome = RunOutcome::Failed;
    std::optional<int> exitStatus;  // the board's own; nothing when a signal ended the run
    // What was said of the outcome (the record's "error"), without its line
    // end; empty when nothing was.
    std::string message;
    std::string record;  // the board's record, one JSON object, without a line end
};

// The tally of a run of several boards so far.
struct BoardTally {
    unsigned complete = 0;
    unsigned failed = 0;
};

struct RunEndFacts {
    RunOutcome outcome = RunOutcome::Failed;
    std::optional<int> exitStatus;  // the program's; nothing when a signal ends it
    const char* signal = nullptr;   // "SIGINT", ...; nullptr: none
    double seconds = 0;
};

class RunObserver : public SessionObserver {
  public:
    virtual void OnRunBegin(const RunBegin& /*begin*/) {}
    virtual void OnPort(const PortFacts& /*port*/) {}
    // The data the board gets: its length and digest.
    virtual void OnImage(int64_t /*bytes*/, const std::string& /*sha256*/) {}
    virtual void OnImageRefused(const ImageRefusal& /*refusal*/) {}
    // The board's number in a run of several (nothing for one board) and
    // its label.
    virtual void OnBoardBegin(const BoardBegin& /*begin*/) {}
    virtual void OnFixtureStep(const FixtureStep& /*step*/) {}
    virtual void OnStamp(const StampNote& /*note*/) {}
    // Whether the board's number was closed in its ledger, once that was
    // tried (app/stamp/Stamping.h).
    virtual void OnStampClosed(bool /*closed*/) {}
    // A console followed the complete download on the same port (--monitor).
    virtual void OnConsoleFollowed() {}
    virtual void OnBoardEnd(const BoardEnd& /*end*/) {}
    virtual void OnRunEnd(const RunEndFacts& /*end*/) {}
};

class RunListeners : public RunObserver {
  public:
    // listener may be nullptr (then nothing is added); not owned.
    void Add(RunObserver* listener);
    // A listener of the session alone.
    void AddSession(SessionObserver* listener);

    void OnPhase(SessionPhase phase) override;
    void OnBoardIdentified(const char* text) override;
    void OnBoardMessage(const char* text) override;
    void OnRecordLine(const char* line, size_t length) override;
    void OnRecordsSent(int32_t count) override;
    void OnRecordsWithdrawn(int32_t count) override;
    void OnProgress(int32_t lines, int percent, bool last) override;
    void OnCountConfirmed(int32_t count) override;
    void OnFlash(bool acknowledged) override;
    void OnStartSent() override;
    void OnOutcome(SessionOutcome outcome, const char* message) override;

    void OnRunBegin(const RunBegin& begin) override;
    void OnPort(const PortFacts& port) override;
    void OnImage(int64_t bytes, const std::string& sha256) override;
    void OnImageRefused(const ImageRefusal& refusal) override;
    void OnBoardBegin(const BoardBegin& begin) override;
    void OnFixtureStep(const FixtureStep& step) override;
    void OnStamp(const StampNote& note) override;
    void OnStampClosed(bool closed) override;
    void OnConsoleFollowed() override;
    void OnBoardEnd(const BoardEnd& end) override;
    void OnRunEnd(const RunEndFacts& end) override;

  private:
    template <typename Call>
    void Session(Call call);
    template <typename Call>
    void Run(Call call);

    std::vector<SessionObserver*> sessionListeners;  // every listener
    std::vector<RunObserver*> runListeners;          // those of the run's facts too
};
