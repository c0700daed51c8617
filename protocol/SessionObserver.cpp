#include "protocol/SessionObserver.h"

const char* SessionOutcomeName(SessionOutcome outcome) {
    switch (outcome) {
        case SessionOutcome::Complete:
            return "complete";
        case SessionOutcome::NoRecords:
            return "no-records";
        case SessionOutcome::CountMismatch:
            return "count-mismatch";
        case SessionOutcome::FlashNotAcknowledged:
            return "flash-not-acknowledged";
        case SessionOutcome::Timeout:
            return "timeout";
        default:
            return "file-error";
    }
}
