#include "app/stamp/Stamping.h"

#include <cstdio>

#include "app/gang/GangEvents.h"
#include "app/stamp/StampMessages.h"
#include "errors/FormatText.h"
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
    closingFailed = false;
    stamp.Disarm();
}

void Stamping::OnBoardIdentified(const char* /*text*/) {
    const StampFormat& format = plan.spec.format;
    std::string why;
    reserved = ReserveWithPatience(*ledger, taker, why);
    if (!reserved) {
        throw StampReservationError(FormatText(messages::kLedgerCannotFormat,
                                               LedgerShownName(plan.ledger).c_str(), why.c_str()),
                                    1);
    }
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
    std::string why;
    bool closed = false;
    try {
        closed = CloseWithPatience(*ledger, value, taker, state, OutcomeName(outcome), why);
    } catch (const ProgramError& error) {
        // The ledger no longer reads (a line that does not parse).
        why = error.what();
        why.erase(why.find_last_not_of('\n') + 1);
    }
    std::string message;
    if (!closed) {
        closingFailed = true;
        message = FormatText(messages::kStampNotClosedFormat, LedgerShownName(plan.ledger).c_str(),
                             StampValueText(plan.spec.format, value).c_str(), state, why.c_str());
        std::fflush(stdout);
        std::fputs(message.c_str(), stderr);
    }
    if (report != nullptr) {
        report->SetStampClosed(closed, message);
    }
}

std::string Stamping::ValueText() const {
    return shownValue;
}

std::unique_ptr<Stamping> PrepareStamping(const Settings& settings, RunReport* report,
                                          GangEventWriter* gang) {
    const std::optional<StampPlan> plan = ReadStampPlan(settings);
    if (!plan) {
        return nullptr;
    }
    CheckStampImage(settings.dataFile, *plan);
    return std::make_unique<Stamping>(*plan, settings, report, gang);
}
