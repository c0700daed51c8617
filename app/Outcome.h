#pragma once
// RunOutcome: how a run ended, or one board's session in a run of several.
// The one list of endings and their names: the record (--report), the tally
// of board after board and the gang's summary all name an ending through
// OutcomeName, and a gang's runs tell their gang theirs by that name. A new
// ending joins the enum and OutcomeName's switch (the compiler then finds
// every switch that must learn of it) and the list of outcomes in the docs.
//
// How a board, a run and a gang's port end is decided here and nowhere
// else: OutcomeOfRun, OutcomeAfterClosing, BoardExitStatus and
// OutcomeOfPort.

#include <optional>
#include <string>

#include "protocol/SessionObserver.h"

enum class RunOutcome {
    // The download session's own endings (SessionOutcome).
    Complete,
    NoRecords,
    CountMismatch,
    FlashNotAcknowledged,
    Timeout,
    FileError,  // the data file could not be opened or read to its end
    // The run's.
    PortError,
    ImageOk,             // --check-only: the image is sound
    ImageRefused,        // --check, --check-only: the image check refused it
    Interrupted,         // the operator ended it (Ctrl-C, SIGTERM, SIGHUP)
    Ended,               // console and raw modes, which have no outcome of their own
    Failed,              // a gang's run that ended without telling how
    PowerCommandFailed,  // --power-command failed (app/fixture/Fixture.h)
    ImageChanged,        // --check: the data file is no longer the image checked
    NoLabel,             // --ask-label: the input ended before the board's label came
    LedgerError,         // --stamp: the board's number could not be reserved or closed
};

// "complete", "no-records", "count-mismatch", "flash-not-acknowledged",
// "timeout", "file-error", "port-error", "image-ok", "image-refused",
// "interrupted", "ended", "failed", "power-command-failed", "image-changed",
// "no-label", "ledger-error".
const char* OutcomeName(RunOutcome outcome);
// The outcome of that name; nothing when no outcome has it.
std::optional<RunOutcome> OutcomeNamed(const std::string& name);

// The session's ending as the run's outcome.
RunOutcome OutcomeOf(SessionOutcome ending);

// How a run came to its end, as the program flow's handler saw it.
enum class RunEndKind {
    Normal,        // the mode ended by itself
    ProgramError,  // FatalError: a data file that cannot be opened or read
    PortError,
    Interrupted,
    PowerCommandFailed,  // app/fixture/Fixture.h
    ImageChanged,        // app/boards/BoardImage.h
    LedgerError,         // a number the stamp ledger could not reserve (app/stamp/Stamping.h)
};

// What a run's end makes of it: an outcome decided before the session
// (preset: the image check's), else the session's own ending, else one that
// fits the kind of end. Console mode never has an ending of its own: the
// operator ends it, so it ends as Ended.
struct OutcomeFacts {
    RunEndKind kind = RunEndKind::Normal;
    bool console = false;
    std::optional<RunOutcome> preset;
    std::optional<RunOutcome> session;
};
RunOutcome OutcomeOfRun(const OutcomeFacts& facts);

// A board's outcome once its number's closing in the stamp ledger is known:
// a complete board whose number could not be closed ends as LedgerError;
// any other ending stays (its own failure says more, and the ledger's is
// said apart).
RunOutcome OutcomeAfterClosing(RunOutcome outcome, bool closingFailed);

// The exit status of one board of a run of several: 0 complete (or its
// image found sound by --check-only), 1 otherwise.
int BoardExitStatus(RunOutcome outcome);

// The outcome a run ends with, told in its end: outcome, but a complete run
// that still ends with a status other than 0 (an earlier board of several
// failed, its record or its events could not be written) is Failed.
// exitStatus: nothing when a signal ends it.
RunOutcome OutcomeOfEnd(RunOutcome outcome, std::optional<int> exitStatus);

// The outcome of a gang's port, once its run has ended: what the run told
// (as OutcomeOfEnd makes it), else Interrupted when an interrupt ended it,
// else Failed.
RunOutcome OutcomeOfPort(const std::optional<RunOutcome>& told, int exitStatus, bool interrupted);

// Listens to a session for its ending alone.
class SessionEnding : public SessionObserver {
  public:
    void OnOutcome(SessionOutcome outcome, const char* message) override;
    // The session's ending as an outcome; nothing while it has none.
    const std::optional<RunOutcome>& Ending() const { return ending; }
    void Forget() { ending.reset(); }

  private:
    std::optional<RunOutcome> ending;
};
