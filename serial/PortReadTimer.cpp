#include "serial/PortReadTimer.h"

#include <algorithm>

namespace {

// Totals beyond this (about 35 years) are as good as none, and would not fit
// the clock's range.
constexpr uint64_t kLongestTotalMs = uint64_t{1} << 40;

}  // namespace

PortReadTimer::PortReadTimer(const PortTimeouts& timeouts, uint32_t count,
                             Clock::time_point start) {
    const uint64_t totalMs =
        uint64_t{timeouts.readTotalMultiplier} * count + timeouts.readTotalConstant;
    hasTotal = totalMs != 0;
    totalDeadline = start + std::chrono::milliseconds(std::min(totalMs, kLongestTotalMs));
    if (timeouts.readInterval == kReadIntervalReturnAtOnce) {
        returnAtOnce = !hasTotal;
        returnOnFirstBytes = hasTotal;
    } else {
        interval = std::chrono::milliseconds(timeouts.readInterval);
    }
}

void PortReadTimer::BytesArrived(Clock::time_point now) {
    lastBytes = now;
}

PortReadTimer::Clock::duration PortReadTimer::Remaining(Clock::time_point now,
                                                        uint32_t received) const {
    if (returnAtOnce || (returnOnFirstBytes && received > 0)) {
        return Clock::duration::zero();
    }
    Clock::duration remaining = kWaitForever;
    if (hasTotal) {
        remaining = totalDeadline - now;
    }
    if (interval > Clock::duration::zero() && received > 0) {
        remaining = std::min(remaining, lastBytes + interval - now);
    }
    return remaining;
}
