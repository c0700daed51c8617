#include "sim/Pacer.h"

#include <algorithm>

namespace sim {

namespace {
// Covers the scheduling delays of a busy machine, where the board's thread
// may wake several milliseconds late many times a second.
constexpr std::chrono::nanoseconds kBurstCredit = std::chrono::milliseconds(20);
constexpr size_t kUnpacedAllowance = 1 << 16;
constexpr int64_t kNanosecondsPerSecond = 1000000000;
constexpr int64_t kBitsPerByte = 10;
// Room to catch up after a late wake-up, even at low baud rates.
constexpr int64_t kMinBurstBytes = 3;
}  // namespace

Pacer::Pacer(uint32_t baudRate) : paced(baudRate > 0) {
    if (paced) {
        byteTime = std::chrono::nanoseconds(kBitsPerByte * kNanosecondsPerSecond / baudRate);
        maxCredit = std::max(kBurstCredit, byteTime * kMinBurstBytes);
    }
}

size_t Pacer::Allowance(Clock::time_point now) {
    if (!paced) {
        return kUnpacedAllowance;
    }
    if (lineFree < now - maxCredit) {
        lineFree = now - maxCredit;
    }
    if (lineFree > now) {
        return 0;
    }
    return static_cast<size_t>((now - lineFree) / byteTime);
}

void Pacer::Consume(size_t bytes) {
    if (paced) {
        lineFree += byteTime * static_cast<int64_t>(bytes);
    }
}

int Pacer::WaitMs(Clock::time_point now) const {
    if (!paced) {
        return 0;
    }
    std::chrono::nanoseconds wait = lineFree + byteTime - now;
    if (wait <= std::chrono::nanoseconds(0)) {
        return 0;
    }
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait);
    return static_cast<int>(ms.count());
}

}  // namespace sim
