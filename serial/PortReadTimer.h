#pragma once
// PortReadTimer: how long a read may still wait, under the read time-outs of
// a port (see COMPort.h for what each combination means). Platforms without
// such time-outs of their own wait for readiness for at most Remaining() and
// end the read when it reaches zero. Times come from the caller, so that the
// rules can be checked without a clock.

#include <chrono>
#include <cstdint>

#include "serial/PortPlatform.h"

class PortReadTimer {
  public:
    using Clock = std::chrono::steady_clock;

    // Remaining() when nothing limits the read.
    static constexpr Clock::duration kWaitForever = Clock::duration::max();

    // A read of count bytes that began at start.
    PortReadTimer(const PortTimeouts& timeouts, uint32_t count, Clock::time_point start);

    // Bytes arrived at now (the interval time-out counts from the last ones).
    void BytesArrived(Clock::time_point now);

    // How long the read may still wait at now, having received that many
    // bytes: kWaitForever, or zero or less when the read is over.
    Clock::duration Remaining(Clock::time_point now, uint32_t received) const;

  private:
    bool hasTotal = false;
    Clock::time_point totalDeadline;
    bool returnAtOnce = false;        // all-ones interval, no totals
    bool returnOnFirstBytes = false;  // all-ones interval with totals
    Clock::duration interval{0};      // zero: no interval time-out
    Clock::time_point lastBytes;
};
