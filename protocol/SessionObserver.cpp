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

void SessionObservers::Add(SessionObserver* listener) {
    if (listener != nullptr) {
        listeners.push_back(listener);
    }
}

void SessionObservers::OnPhase(SessionPhase phase) {
    for (SessionObserver* listener : listeners) {
        listener->OnPhase(phase);
    }
}

void SessionObservers::OnBoardIdentified(const char* text) {
    for (SessionObserver* listener : listeners) {
        listener->OnBoardIdentified(text);
    }
}

void SessionObservers::OnBoardMessage(const char* text) {
    for (SessionObserver* listener : listeners) {
        listener->OnBoardMessage(text);
    }
}

void SessionObservers::OnRecordsSent(int32_t count) {
    for (SessionObserver* listener : listeners) {
        listener->OnRecordsSent(count);
    }
}

void SessionObservers::OnCountConfirmed(int32_t count) {
    for (SessionObserver* listener : listeners) {
        listener->OnCountConfirmed(count);
    }
}

void SessionObservers::OnFlash(bool acknowledged) {
    for (SessionObserver* listener : listeners) {
        listener->OnFlash(acknowledged);
    }
}

void SessionObservers::OnStartSent() {
    for (SessionObserver* listener : listeners) {
        listener->OnStartSent();
    }
}

void SessionObservers::OnOutcome(SessionOutcome outcome, const char* message) {
    for (SessionObserver* listener : listeners) {
        listener->OnOutcome(outcome, message);
    }
}
