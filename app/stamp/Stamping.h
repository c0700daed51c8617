#pragma once
// Stamping: a number of its own for every board (--stamp). It listens to the
// download session: once the boot loader has answered (OnBoardIdentified,
// before "R"), it reserves the next number in the ledger (durably), arms the
// record filter that writes it into the image as the lines go out, says
// "Stamp %s reserved for 0x%08X (%s)" and tells the run (OnStamp). The session's
// end closes the reservation, or, for a board that ended otherwise (a port
// error, the operator's request), the program flow does (Finish): used after
// a complete session, interrupted after the operator's request, failed
// otherwise (with the outcome's name). A board that never answered reserves
// nothing.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Outcome.h"
#include "app/RunObserver.h"
#include "app/stamp/StampLedger.h"
#include "app/stamp/StampPlan.h"
#include "protocol/SessionObserver.h"
#include "text/RecordStamp.h"

class Stamping : public SessionObserver {
  public:
    // Reads the plan's ledger and makes sure a number is left (FatalError
    // otherwise). run hears of each number reserved; runId names the run in
    // the ledger (nothing: unnamed).
    Stamping(const StampPlan& plan, const Settings& settings, RunObserver& run,
             const std::optional<std::string>& runId);

    RecordLineFilter* Filter() { return &stamp; }
    // A further board of the run (its number in the run) is awaited.
    void StartBoard(std::optional<uint32_t> boardNumber);

    void OnBoardIdentified(const char* text) override;
    // The session's own end closes the reservation at once (a console that
    // follows with --monitor changes nothing of the board's number).
    void OnOutcome(SessionOutcome outcome, const char* message) override;

    // Closes the board's reservation, if it has one, with how the board's
    // run ended: used when complete, interrupted, or failed. A ledger that
    // cannot take the line is said on standard error; the number stays
    // spent.
    void Finish(RunOutcome outcome);

    // The number of the board last begun, as shown ("17"), also once it is
    // closed; empty when it has none.
    std::string ValueText() const;

  private:
    StampPlan plan;
    std::unique_ptr<StampLedger> ledger;
    RecordStamp stamp;
    RunObserver& run;
    StampTaker taker;
    std::optional<StampValue> reserved;
    std::string shownValue;
};

// The stamping of plan, checked (image, ledger) before the port is opened.
// An image the stamp must not be written into (CheckStampImage) gives nullptr,
// its ledger unopened, and its findings in refusal, for the program flow to
// refuse the image with.
std::unique_ptr<Stamping> PrepareStamping(const StampPlan& plan, const Settings& settings,
                                          RunObserver& run,
                                          const std::optional<std::string>& runId,
                                          std::vector<ImageFinding>& refusal);
