#include "app/Outcome.h"

const char* OutcomeName(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Complete:
            return "complete";
        case RunOutcome::NoRecords:
            return "no-records";
        case RunOutcome::CountMismatch:
            return "count-mismatch";
        case RunOutcome::FlashNotAcknowledged:
            return "flash-not-acknowledged";
        case RunOutcome::Timeout:
            return "timeout";
        case RunOutcome::FileError:
            return "file-error";
        case RunOutcome::PortError:
            return "port-error";
        case RunOutcome::ImageOk:
            return "image-ok";
        case RunOutcome::ImageRefused:
            return "image-refused";
        case RunOutcome::Interrupted:
            return "interrupted";
        case RunOutcome::Ended:
            return "ended";
        case RunOutcome::Failed:
            return "failed";
        case RunOutcome::PowerCommandFailed:
            return "power-command-failed";
        case RunOutcome::ImageChanged:
            return "image-changed";
        case RunOutcome::NoLabel:
            return "no-label";
        case RunOutcome::LedgerError:
            return "ledger-error";
    }
    // Only a value that is no outcome comes here.
    return nullptr;
}

// The enumerators run from 0 without gaps, so the names are found by asking
// OutcomeName for each value until it knows none.
std::optional<RunOutcome> OutcomeNamed(const std::string& name) {
    for (int value = 0;; ++value) {
        const RunOutcome outcome = static_cast<RunOutcome>(value);
        const char* known = OutcomeName(outcome);
        if (known == nullptr) {
            return std::nullopt;
        }
        if (name == known) {
            return outcome;
        }
    }
}

RunOutcome OutcomeOf(SessionOutcome ending) {
    switch (ending) {
        case SessionOutcome::Complete:
            return RunOutcome::Complete;
        case SessionOutcome::NoRecords:
            return RunOutcome::NoRecords;
        case SessionOutcome::CountMismatch:
            return RunOutcome::CountMismatch;
        case SessionOutcome::FlashNotAcknowledged:
            return RunOutcome::FlashNotAcknowledged;
        case SessionOutcome::Timeout:
            return RunOutcome::Timeout;
        case SessionOutcome::FileReadFailed:
            return RunOutcome::FileError;
    }
    return RunOutcome::Failed;
}

RunOutcome OutcomeOfRun(const OutcomeFacts& facts) {
    if (facts.preset) {
        return *facts.preset;
    }
    switch (facts.kind) {
        case RunEndKind::PortError:
            return RunOutcome::PortError;
        case RunEndKind::ProgramError:
            return RunOutcome::FileError;
        case RunEndKind::PowerCommandFailed:
            return RunOutcome::PowerCommandFailed;
        case RunEndKind::ImageChanged:
            return RunOutcome::ImageChanged;
        case RunEndKind::LedgerError:
            return RunOutcome::LedgerError;
        case RunEndKind::Interrupted:
            return facts.console ? RunOutcome::Ended
                                 : facts.session.value_or(RunOutcome::Interrupted);
        case RunEndKind::Normal:
            break;
    }
    return facts.session.value_or(RunOutcome::Ended);
}

RunOutcome OutcomeAfterClosing(RunOutcome outcome, bool closingFailed) {
    return closingFailed && outcome == RunOutcome::Complete ? RunOutcome::LedgerError : outcome;
}

int BoardExitStatus(RunOutcome outcome) {
    return outcome == RunOutcome::Complete || outcome == RunOutcome::ImageOk ? 0 : 1;
}

RunOutcome OutcomeOfEnd(RunOutcome outcome, std::optional<int> exitStatus) {
    return outcome == RunOutcome::Complete && exitStatus.value_or(0) != 0 ? RunOutcome::Failed
                                                                          : outcome;
}

RunOutcome OutcomeOfPort(const std::optional<RunOutcome>& told, int exitStatus, bool interrupted) {
    if (told) {
        return OutcomeOfEnd(*told, exitStatus);
    }
    return interrupted ? RunOutcome::Interrupted : RunOutcome::Failed;
}

void SessionEnding::OnOutcome(SessionOutcome outcome, const char* /*message*/) {
    ending = OutcomeOf(outcome);
}
