#pragma once
// Deadline: a moment on the steady clock, and how much time is left before
// it. A deadline that was never started never passes. Every operation takes
// the current time from the caller when given, so that the rules can be
// checked without a clock.

#include <algorithm>
#include <chrono>
#include <cstdint>

class Deadline {
  public:
    using Clock = std::chrono::steady_clock;

    // Not started: never passes.
    Deadline() = default;

    // Starts the deadline lengthMs after now; a second call does not move it.
    void StartOnce(uint64_t lengthMs, Clock::time_point now = Clock::now()) {
        if (!started) {
            started = true;
            end = now + std::chrono::milliseconds(lengthMs);
        }
    }
    // Forgets the deadline: not started again.
    void Reset() { started = false; }

    bool Started() const { return started; }
    bool Passed(Clock::time_point now = Clock::now()) const { return started && now >= end; }

    // Milliseconds left at now, rounded up (0 once passed); limitMs when that
    // is less, and limitMs when the deadline was never started.
    uint32_t RemainingMs(uint32_t limitMs, Clock::time_point now = Clock::now()) const {
        if (!started) {
            return limitMs;
        }
        if (now >= end) {
            return 0;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now).count();
        return static_cast<uint32_t>(std::min<int64_t>(left, limitMs));
    }

  private:
    bool started = false;
    Clock::time_point end;
};
