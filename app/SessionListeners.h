#pragma once
// SessionListeners: one observer for the session that passes every event on
// to each of several (the record, a tally, a gang), in the order they were
// added.

#include <vector>

#include "protocol/SessionObserver.h"

class SessionListeners : public SessionObserver {
  public:
    // listener may be nullptr (then nothing is added); not owned.
    void Add(SessionObserver* listener);

    void OnPhase(SessionPhase phase) override;
    void OnBoardIdentified(const char* text) override;
    void OnBoardMessage(const char* text) override;
    void OnRecordsSent(int32_t count) override;
    void OnProgress(int32_t lines, int percent, bool last) override;
    void OnCountConfirmed(int32_t count) override;
    void OnFlash(bool acknowledged) override;
    void OnStartSent() override;
    void OnOutcome(SessionOutcome outcome, const char* message) override;

  private:
    std::vector<SessionObserver*> listeners;
};
