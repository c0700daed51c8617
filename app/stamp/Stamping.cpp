#include "app/stamp/Stamping.h"

#include <cstdio>

#include "app/stamp/StampMessages.h"
#include "errors/ProgramError.h"
#include "text/Shown.h"

Stamping::Stamping(const StampPlan& stampPlan, const Settings& settings, RunObserver& runObserver,
                   const std::optional<std::string>& runId)
    : plan(stampPlan), stamp(plan.spec), run(runObserver) {
    ledger = OpenStampLedger(plan);
    ledger->Check();
    taker.port = settings.portName;
    // The run's name as its records and events give it, so that ledger and
    // records meet.
    taker.runId = runId;
    if (settings.station != nullptr) {
        taker.station = settings.station;
    }
}

void Stamping::StartBoard(std::optional<uint32_t> boardNumber) {
    taker.boardNumber = boardNumber;
    reserved.reset();
    shownValue.clear();
    stamp.Disarm();
}

void Stamping::OnBoardIdentified(const char* /*text*/) {
    const StampFormat& format = plan.spec.format;
    reserved = ledger->Reserve(taker);
    stamp.Arm(StampFieldBytes(format, *reserved));
    const std::string value = StampValueText(format, *reserved);
    shownValue = value;
    ShowFormatted(messages::kStampReservedFormat, value.c_str(), plan.spec.address,
                  format.Name().c_str());
    std::fflush(stdout);
    StampNote note;
    note.isText = format.IsBytes();
    note.number = reserved->Number();
    note.text = value;
    note.address = plan.spec.address;
    note.format = format.Name();
    note.ledger = LedgerShownName(plan.ledger);
    run.OnStamp(note);
}

void Stamping::OnOutcome(SessionOutcome outcome, const char* /*message*/) {
    Finish(OutcomeOf(outcome));
}

void Stamping::Finish(RunOutcome outcome) {
    if (!reserved) {
        return;
    }
    const char* state = outcome == RunOutcome::Complete      ? "used"
                        : outcome == RunOutcome::Interrupted ? "interrupted"
                                                             : "failed";
    const StampValue value = *reserved;
    reserved.reset();
    stamp.Disarm();
    try {
        ledger->Close(value, taker, state, OutcomeName(outcome));
    } catch (const ProgramError& error) {
        std::fflush(stdout);
        std::fputs(error.what(), stderr);
    }
}

std::string Stamping::ValueText() const {
    return shownValue;
}

std::unique_ptr<Stamping> PrepareStamping(const StampPlan& plan, const Settings& settings,
                                          RunObserver& run,
                                          const std::optional<std::string>& runId,
                                          std::vector<ImageFinding>& refusal) {
    refusal = CheckStampImage(settings.dataFile, plan);
    if (!refusal.empty()) {
        return nullptr;
    }
    return std::make_unique<Stamping>(plan, settings, run, runId);
}
