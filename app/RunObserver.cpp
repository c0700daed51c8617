#include "app/RunObserver.h"

void RunListeners::Add(RunObserver* listener) {
    if (listener != nullptr) {
        sessionListeners.push_back(listener);
        runListeners.push_back(listener);
    }
}

void RunListeners::AddSession(SessionObserver* listener) {
    if (listener != nullptr) {
        sessionListeners.push_back(listener);
    }
}

template <typename Call>
void RunListeners::Session(Call call) {
    for (SessionObserver* listener : sessionListeners) {
        call(*listener);
    }
}

template <typename Call>
void RunListeners::Run(Call call) {
    for (RunObserver* listener : runListeners) {
        call(*listener);
    }
}

void RunListeners::OnPhase(SessionPhase phase) {
    Session([&](SessionObserver& listener) { listener.OnPhase(phase); });
}

void RunListeners::OnBoardIdentified(const char* text) {
    Session([&](SessionObserver& listener) { listener.OnBoardIdentified(text); });
}

void RunListeners::OnBoardMessage(const char* text) {
    Session([&](SessionObserver& listener) { listener.OnBoardMessage(text); });
}

void RunListeners::OnRecordsSent(int32_t count) {
    Session([&](SessionObserver& listener) { listener.OnRecordsSent(count); });
}

void RunListeners::OnProgress(int32_t lines, int percent, bool last) {
    Session([&](SessionObserver& listener) { listener.OnProgress(lines, percent, last); });
}

void RunListeners::OnCountConfirmed(int32_t count) {
    Session([&](SessionObserver& listener) { listener.OnCountConfirmed(count); });
}

void RunListeners::OnFlash(bool acknowledged) {
    Session([&](SessionObserver& listener) { listener.OnFlash(acknowledged); });
}

void RunListeners::OnStartSent() {
    Session([&](SessionObserver& listener) { listener.OnStartSent(); });
}

void RunListeners::OnOutcome(SessionOutcome outcome, const char* message) {
    Session([&](SessionObserver& listener) { listener.OnOutcome(outcome, message); });
}

void RunListeners::OnRunBegin(const RunBegin& begin) {
    Run([&](RunObserver& listener) { listener.OnRunBegin(begin); });
}

void RunListeners::OnPort(const PortFacts& port) {
    Run([&](RunObserver& listener) { listener.OnPort(port); });
}

void RunListeners::OnImage(int64_t bytes, const std::string& sha256) {
    Run([&](RunObserver& listener) { listener.OnImage(bytes, sha256); });
}

void RunListeners::OnImageRefused(const ImageRefusal& refusal) {
    Run([&](RunObserver& listener) { listener.OnImageRefused(refusal); });
}

void RunListeners::OnBoardBegin(const BoardBegin& begin) {
    Run([&](RunObserver& listener) { listener.OnBoardBegin(begin); });
}

void RunListeners::OnFixtureStep(const FixtureStep& step) {
    Run([&](RunObserver& listener) { listener.OnFixtureStep(step); });
}

void RunListeners::OnStamp(const StampNote& note) {
    Run([&](RunObserver& listener) { listener.OnStamp(note); });
}

void RunListeners::OnConsoleFollowed() {
    Run([&](RunObserver& listener) { listener.OnConsoleFollowed(); });
}

void RunListeners::OnBoardEnd(const BoardEnd& end) {
    Run([&](RunObserver& listener) { listener.OnBoardEnd(end); });
}

void RunListeners::OnRunEnd(const RunEndFacts& end) {
    Run([&](RunObserver& listener) { listener.OnRunEnd(end); });
}
