#include "app/stamp/Stamping.h"

#include <cstdio>

#include "app/stamp/StampMessages.h"
#include "errors/ProgramError.h"

Stamping::Stamping(const StampPlan& stampPlan, const Settings& settings, RunReport* runReport)
    : plan(stampPlan), stamp(plan.spec), report(runReport) {
    ledger = OpenStampLedger(plan);
    ledger->Check();
    taker.port = settings.portName;
}

void Stamping::StartBoard(std::optional<uint32_t> boardNumber) {
    taker.boardNumber = boardNumber;
    reserved.reset();
    outcome.reset();
    shownValue.clear();
    stamp.Disarm();
}

void Stamping::OnBoardIdentified(const char* /*text*/) {
    const StampFormat& format = plan.spec.format;
    reserved = ledger->Reserve(taker);
    stamp.Arm(StampFieldBytes(format, *reserved));
    const std::string value = StampValueText(format, *reserved);
    shownValue = value;
    std::printf(messages::kStampReservedFormat, value.c_str(), plan.spec.address,
                format.Name().c_str());
    std::fflush(stdout);
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

void Stamping::OnOutcome(SessionOutcome sessionOutcome, const char* /*message*/) {
    outcome = sessionOutcome;
}

void Stamping::Finish(bool interrupted, const char* outcomeName) {
    if (!reserved) {
        return;
    }
    const bool complete = !interrupted && outcome == SessionOutcome::Complete;
    const char* state = interrupted ? "interrupted" : complete ? "used" : "failed";
    const std::string name = interrupted ? "interrupted"
                             : outcome  ? SessionOutcomeName(*outcome)
                                        : outcomeName;
    const StampValue value = *reserved;
    reserved.reset();
    stamp.Disarm();
    try {
        ledger->Close(value, taker, state, name);
    } catch (const ProgramError& error) {
        std::fflush(stdout);
        std::fputs(error.what(), stderr);
    }
}

std::string Stamping::ValueText() const {
    return shownValue;
}

std::unique_ptr<Stamping> PrepareStamping(const Settings& settings, RunReport* report) {
    const std::optional<StampPlan> plan = ReadStampPlan(settings);
    if (!plan) {
        return nullptr;
    }
    CheckStampImage(settings.dataFile, *plan);
    return std::make_unique<Stamping>(*plan, settings, report);
}
