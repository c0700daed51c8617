#pragma once
// Pacer: lets bytes pass no faster than a serial line of a given baud rate
// would carry them (10 bit times per byte: start bit, 8 data bits, stop bit).
//
// It keeps a clock of when the line is next free. A line that was idle may
// take a short burst (about 20 ms worth, at least three bytes), so that waking
// late from poll(), as happens on a loaded machine, does not slow the average
// rate down.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace sim {

class Pacer {
  public:
    using Clock = std::chrono::steady_clock;

    // baudRate 0: no pacing at all.
    explicit Pacer(uint32_t baudRate);

    bool Paced() const { return paced; }
    // How many bytes may pass at time now (a large number when unpaced).
    size_t Allowance(Clock::time_point now);
    // Notes that bytes have passed.
    void Consume(size_t bytes);
    // Milliseconds (rounded up) from now until one more byte may pass; 0 when
    // one may pass now.
    int WaitMs(Clock::time_point now) const;

  private:
    bool paced = false;
    std::chrono::nanoseconds byteTime{0};
    std::chrono::nanoseconds maxCredit{0};
    Clock::time_point lineFree{};
};

}  // namespace sim
