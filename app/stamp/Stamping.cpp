#include "app/stamp/Stamping.h"

#include <cstdio>

#include "app/gang/GangEvents.h"
#include "app/stamp/StampMessages.h"
#include "errors/ProgramError.h"
#include "text/Shown.h"

Stamping::Stamping(const StampPlan& stampPlan, const Settings& settings, RunReport* runReport,
                   GangEventWriter* gangWriter)
    : plan(stampPlan), stamp(plan.spec), report(runReport), gang(gangWriter) {
    ledger = OpenStampLedger(plan);
    ledger->Check();
    taker.port = settings.portName;
    // The run's name as its records give it (a generated one when only the
    // record names it), so that ledger and records meet.
    if (report != nullptr) {
        taker.runId = report->RunId();
    } else if (settings.runId != nullptr) {
        taker.runId = settings.runId;
    }
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
    if (gang != nullptr) {
        gang->Stamp(value);
    }
    if (report != nullptr) {
        StampNote note;
        note.isText = format.IsBytes();
        note.number = reserved->Number();
        note.text = value;
        note.address = plan.spec.address;
        note.format = format.Name();
        note.ledger = LedgerShownName(plan.ledger);
        report->SetStamp(note);
    }
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

std::unique_ptr<Stamping> PrepareStamping(const Settings& settings, RunReport* report,
                                          GangEventWriter* gang,
                                          std::vector<ImageFinding>& refusal) {
    const std::optional<StampPlan> plan = ReadStampPlan(settings);
    if (!plan) {
        return nullptr;
    }
    refusal = CheckStampImage(settings.dataFile, *plan);
    if (!refusal.empty()) {
        return nullptr;
    }
    return std::make_unique<Stamping>(*plan, settings, report, gang);
}
