#include "app/SessionListeners.h"

void SessionListeners::Add(SessionObserver* listener) {
    if (listener != nullptr) {
        listeners.push_back(listener);
    }
}

void SessionListeners::OnPhase(SessionPhase phase) {
    for (SessionObserver* listener : listeners) {
        listener->OnPhase(phase);
    }
}

void SessionListeners::OnBoardIdentified(const char* text) {
    for (SessionObserver* listener : listeners) {
        listener->OnBoardIdentified(text);
    }
}

void SessionListeners::OnBoardMessage(const char* text) {
    for (SessionObserver* listener : listeners) {
        listener->OnBoardMessage(text);
    }
}

void SessionListeners::OnRecordsSent(int32_t count) {
    for (SessionObserver* listener : listeners) {
        listener->OnRecordsSent(count);
    }
}

void SessionListeners::OnProgress(int32_t lines, int percent, bool last) {
    for (SessionObserver* listener : listeners) {
        listener->OnProgress(lines, percent, last);
    }
}

void SessionListeners::OnCountConfirmed(int32_t count) {
    for (SessionObserver* listener : listeners) {
        listener->OnCountConfirmed(count);
    }
}

void SessionListeners::OnFlash(bool acknowledged) {
    for (SessionObserver* listener : listeners) {
        listener->OnFlash(acknowledged);
    }
}

void SessionListeners::OnStartSent() {
    for (SessionObserver* listener : listeners) {
        listener->OnStartSent();
    }
}

void SessionListeners::OnOutcome(SessionOutcome outcome, const char* message) {
    for (SessionObserver* listener : listeners) {
        listener->OnOutcome(outcome, message);
    }
}
