#pragma once
// RunStory: the one story of a run. It makes the listeners the settings ask
// for (the record, for --report, the event stream or a gang; the event
// stream of --events or of a gang's run; the board's number with --stamp;
// the result command; the operator's screen), keeps the boards' labels, tells
// the listeners what the run does (app/RunObserver.h), and decides, in one
// place, how each board and the run end.
//
// A board's end comes in this order:
//   1. its number's closing in the ledger (--stamp): at once when the
//      session ended by itself, else CloseNumber / CloseNumberOnError (a
//      complete board whose number could not be closed ends ledger-error,
//      the closing's message its record's error), before
//   2. --reset-end and 3. --power-off-command, which the caller runs on the
//      port (app/fixture/Fixture.h), then EndBoard (or, for a board that an
//      error ended, End) does
//   4. --result-command (app/fixture/ResultCommand.h), told the id the
//      record will carry,
//   5. the record made and appended to the --report file, forced to disk
//      before the run, or its next board, goes on,
//   6. OnBoardEnd with the record (the event stream's board-end),
//   7. the records on disk forwarded to the factory's database (--report-db,
//      app/factory/RecordForwarder.h; not after the operator's request);
//   8. then the tally (a run of several boards, its caller) and the
//      operator's screen (ShowResult; a single board's in End).
// At the run's end: the single board's end as above, then OnRunEnd with the
// program's exit status and the run's outcome (OutcomeOfEnd: a run that
// ends with a status other than 0 is not complete).
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
class BoardLabels;
class EventStream;
class OperatorScreen;
class ParentChannel;
class RecordForwarder;
class ResultCommand;
class RunReport;
class Stamping;

// What the story keeps of each board to tell its end: the session's ending
// and what it said, and a refused image's summary.
class BoardEnding : public RunObserver {
  public:
    void OnOutcome(SessionOutcome outcome, const char* message) override;
    void OnImageRefused(const ImageRefusal& refusal) override;
    // The session's ending as an outcome; nothing while it has none.
    const std::optional<RunOutcome>& Ending() const { return ending; }
    // What was said of the board's outcome, as its record's error: a refused
    // image's summary, else runMessage (the run's end's, without its line
    // end), else the session's.
    std::string Said(const std::string& runMessage) const;
    void Forget();

  private:
    std::optional<RunOutcome> ending;
    std::string message;
    std::string refusal;
};

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
    // The run begins (OnRunBegin); its first board is open, not yet begun
    // (BeginBoard), so that an error before it is recorded.
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

    // The boards' labels (app/operator/BoardLabels.h); nullptr when the
    // settings give or ask for none.
    BoardLabels* Labels() { return labels.get(); }

    // A board begins (OnBoardBegin): the single board (number nothing) or a
    // further board of a run of several, with its label; the session's
    // ending is forgotten.
    void BeginBoard(std::optional<uint32_t> number, const std::optional<std::string>& label);
    // The board awaited never came (the run was stopped while it was
    // awaited): no record, no board-end.
    void DiscardBoard();
    // The first step of the end of the board begun, before the fixture's
    // end sequence: its number closed with the outcome EndBoard will give it
    // (request as there). A board that an error ends instead: called while
    // the error is handled, with the outcome End will give it.
    void CloseNumber(int request);
    void CloseNumberOnError();
    // The board begun has ended: request is the operator's request that cut
    // its session short, 0 when it ran to its end; ledgerError, when not
    // empty, the message of a number the ledger could not reserve (said
    // already), which ended it ledger-error. Runs the rest of its end
    // (above) and returns its outcome.
    RunOutcome EndBoard(int request, const std::string& ledgerError = std::string());
    // The operator's screen for the board that ended, with the run's tally
    // (when the settings ask for the screen).
    void ShowResult(const BoardTally& tally);
    // A line said between boards (with its line end): on the operator's
    // screen's last line while it shows, else on standard output.
    void Say(const std::string& line);

    // The run's end, as its one handler saw it: ends the board still open
    // (a single run's, or the one an error cut short), then tells the run's
    // end. A record or an event that could not be written fails a run that
    // had not failed (end's message and status).
    void End(RunEnd& end, RunEndKind kind);

  private:
    // The outcome of the board begun when it ends normally (request as in
    // EndBoard), and when an error of kind ends it.
    RunOutcome BoardOutcome(int request) const;
    RunOutcome ErrorOutcome(RunEndKind kind) const;
    // A write of the events has failed: a run that had not failed ends with
    // status 1 (not one ended by a signal).
    void FailOnEventsLost(RunEnd& end, bool bySignal) const;
        // outcome once the board's number is closed (closed here when it was
    // not yet): ledger-error for a complete board whose number could not be
    // closed, message then (when empty) what was said of it.
    RunOutcome OutcomeWithClosing(RunOutcome outcome, std::string& message);
    // The board open ends (steps 1 and 4 to 7 above).
    void FinishBoard(RunOutcome outcome, std::optional<int> exitStatus, const std::string& message,
                     const char* signal, RunEnd* runEnd);
    // Appends the record to the --report file; one that fails is said, or
    // fails the run's end.
    void AppendRecord(const std::string& record, RunEnd* runEnd);
    // Forwards the records on disk (--report-db); what it says goes to the
    // run's end message, or at once to standard error for a board of many.
    void Forward(const char* signal, RunEnd* runEnd);

    const Settings& settings;
    Clock::time_point start;
    std::string runId;
    RunListeners listeners;
    BoardEnding ending;
    std::unique_ptr<EventStream> events;
    std::unique_ptr<ParentChannel> channel;
    std::unique_ptr<RunReport> record;
    std::unique_ptr<AppendFile> reportFile;
    std::unique_ptr<RecordForwarder> forwarder;
    std::unique_ptr<Stamping> stamping;
    std::unique_ptr<BoardLabels> labels;
    std::unique_ptr<ResultCommand> resultCommand;
    std::unique_ptr<OperatorScreen> screen;
    std::optional<RunOutcome> preset;
    std::optional<uint32_t> boardNumber;
    bool begun = false;
    bool boardOpen = false;
    bool boardTold = false;  // its OnBoardBegin has been told
};

// 128 random bits in the form of a UUID (version 4), so that no two runs of
// any station share one.
std::string GeneratedRunId();

// How the run ends for the error being handled (call it within a catch
// block): its kind, with end's message, status and interrupt set as the
// program ends for it. An error of no known kind is raised again.
RunEndKind EndOfError(RunEnd& end);
