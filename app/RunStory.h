#pragma once
// RunStory: the one story of a run. It makes the listeners the settings ask
// for (the record, for --report, the event stream or a gang; the event
// stream of --events or of a gang's run; the board's number with --stamp),
// tells them what the run does (app/RunObserver.h), and decides, in one
// place, how each board and the run end:
//
//   at each board's end: the outcome (app/Outcome.h), the closing of the
//   board's number in the ledger, the record made and appended to the
//   --report file (forced to disk), forwarded from there to the factory's
//   database (--report-db, app/factory/RecordForwarder.h; not after the
//   operator's request), OnBoardEnd with the record;
//   at the run's end: the single board's end as above, then OnRunEnd with
//   the program's exit status.
//
// Nothing is told before Begin, so that a command line refused, or a file
// of --events or --report that cannot be opened, leaves no record and no
// event.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "app/Outcome.h"
#include "app/ProgramFlow.h"
#include "app/RunObserver.h"
#include "app/Settings.h"

class AppendFile;
class EventStream;
class ParentChannel;
class RecordForwarder;
class RunReport;
class Stamping;

class RunStory {
  public:
    using Clock = std::chrono::steady_clock;

    explicit RunStory(const Settings& settings);
    ~RunStory();
    RunStory(const RunStory&) = delete;
    RunStory& operator=(const RunStory&) = delete;

    // Opens what the settings ask for, before anything is touched: the
    // events' file (FatalError "Can't open events file %s\n"), the record's
    // file ("Can't open report file %s\n"), a gang's channel.
    void Open();
    // The run begins (OnRunBegin), and, in a run of one board, its board.
    void Begin();

    // Everyone who listens to the run and its sessions.
    RunListeners& Listeners() { return listeners; }
    // The run's one name, in its records, its events and its ledger lines.
    const std::string& RunId() const { return runId; }
    // The name the ledger gives the run: its one name when anything else
    // names it (--run-id, a record, the events); nothing otherwise.
    std::optional<std::string> LedgerRunId() const;
    // Each board's record is made (for --report, the events or a gang).
    bool Recorded() const { return record != nullptr; }

    // The outcome decided before any session (the image check's).
    void SetPreset(std::optional<RunOutcome> outcome) { preset = outcome; }
    const std::optional<RunOutcome>& Preset() const { return preset; }
    // The board's numbers (--stamp), listening from now on.
    void SetStamping(std::unique_ptr<Stamping> stamping);
    Stamping* Stamp() { return stamping.get(); }

    // A further board of a run of several begins; the session's ending is
    // forgotten.
    void BeginBoard(uint32_t number);
    // The board awaited never came (the run was stopped while it was
    // awaited): no record, no board-end.
    void DiscardBoard();
    // The board begun has ended: request is the operator's request that cut
    // its session short, 0 when it ran to its end. Returns its outcome.
    RunOutcome EndBoard(int request);

    // The run's end, as its one handler saw it: ends the board still open
    // (a single run's, or the one an error cut short), then tells the run's
    // end. A record or an event that could not be written fails a run that
    // had not failed (end's message and status).
    void End(RunEnd& end, RunEndKind kind);

  private:
    // Makes the record of the board open and hands it to everyone.
    void FinishBoard(RunOutcome outcome, std::optional<int> exitStatus, const std::string& message,
                     const char* signal, RunEnd* runEnd);
    // Forwards the records on disk (--report-db); what it says goes to the
    // run's end message, or at once to standard error for a board of many.
    void Forward(const char* signal, RunEnd* runEnd);

    const Settings& settings;
    Clock::time_point start;
    std::string runId;
    RunListeners listeners;
    SessionEnding ending;
    std::unique_ptr<EventStream> events;
    std::unique_ptr<ParentChannel> channel;
    std::unique_ptr<RunReport> record;
    std::unique_ptr<AppendFile> reportFile;
    std::unique_ptr<RecordForwarder> forwarder;
    std::unique_ptr<Stamping> stamping;
    std::optional<RunOutcome> preset;
    std::optional<uint32_t> boardNumber;
    bool begun = false;
    bool boardOpen = false;
    bool boardTold = false;  // its OnBoardBegin has been told
};

// 128 random bits in the form of a UUID (version 4), so that no two runs of
// any station share one.
std::string GeneratedRunId();
