#pragma once
// Stamping: a number of its own for every board (--stamp). It listens to the
// download session: once the boot loader has answered (OnBoardIdentified,
// before "R"), it reserves the next number in the ledger (durably), arms the
// record filter that writes it into the image as the lines go out, says
// "Stamp %s reserved for 0x%08X (%s)" and tells the record. The session's
// end closes the reservation, or, for a board that ended otherwise (a port
// error, the operator's request), the program flow does (Finish): used after
// a complete session, interrupted after the operator's request, failed
// otherwise (with the outcome's name). A board that never answered reserves
// nothing.
//
// The ledger failing under the run (a full disk, a database that went away)
// is tried again with patience (app/stamp/StampLedger.h). A number that
// still cannot be reserved ends the board before any record line is sent:
// OnBoardIdentified throws StampReservationError, and the board's outcome
// is ledger-error. A closing that still cannot be made is said on standard
// error at once and in the record (stamp.closed false, the message as its
// error); ClosingFailed() then tells the program flow, which ends a board
// that was complete with ledger-error instead (app/Outcome.h).

#include <memory>
#include <optional>
#include <string>

#include "app/Outcome.h"
#include "app/report/RunReport.h"
#include "app/stamp/StampLedger.h"
#include "app/stamp/StampPlan.h"
#include "errors/ProgramError.h"
#include "protocol/SessionObserver.h"
#include "text/RecordStamp.h"

class GangEventWriter;

// A number the ledger could not reserve: the message ("Stamp ledger %s:
// %s") for standard error and the record, status 1.
class StampReservationError : public ProgramError {
  public:
    using ProgramError::ProgramError;
};

class Stamping : public SessionObserver {
  public:
    // Reads the plan's ledger and makes sure a number is left (FatalError
    // otherwise). report and gang (a gang's run tells its gang the number)
    // may be nullptr.
    Stamping(const StampPlan& plan, const Settings& settings, RunReport* report,
             GangEventWriter* gang);

    RecordLineFilter* Filter() { return &stamp; }
    // A further board of the run (its number in the run) is awaited.
    void StartBoard(std::optional<uint32_t> boardNumber);

    void OnBoardIdentified(const char* text) override;
    // The session's own end closes the reservation at once (a console that
    // follows with --monitor changes nothing of the board's number).
    void OnOutcome(SessionOutcome outcome, const char* message) override;

    // Closes the board's reservation, if it has one, with how the board's
    // run ended: used when complete, interrupted, or failed. A closing that
    // cannot be made is said on standard error; the number stays spent.
    void Finish(RunOutcome outcome);
    // The closing of the board's number failed (nothing else is false:
    // no number, a number not closed yet, a closing made).
    bool ClosingFailed() const { return closingFailed; }

    // The number of the board last begun, as shown ("17"), also once it is
    // closed; empty when it has none.
    std::string ValueText() const;

  private:
    StampPlan plan;
    std::unique_ptr<StampLedger> ledger;
    RecordStamp stamp;
    RunReport* report;
    GangEventWriter* gang;
    StampTaker taker;
    std::optional<StampValue> reserved;
    std::string shownValue;
    bool closingFailed = false;
};

// The stamping of settings, checked (switches, image, ledger) before the port
// is opened; nullptr without --stamp.
std::unique_ptr<Stamping> PrepareStamping(const Settings& settings, RunReport* report,
                                          GangEventWriter* gang);
