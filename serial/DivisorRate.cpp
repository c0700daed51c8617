#include "serial/DivisorRate.h"

namespace {

constexpr uint64_t kLargestDivisor = 65535;

}  // namespace

uint32_t DivisorRate(uint32_t baseRate, uint32_t rate) {
    if (baseRate == 0 || rate == 0) {
        return 0;
    }
    uint64_t divisor = (uint64_t{baseRate} + rate / 2) / rate;
    divisor = divisor < 1 ? 1 : divisor > kLargestDivisor ? kLargestDivisor : divisor;
    return static_cast<uint32_t>((uint64_t{baseRate} + divisor / 2) / divisor);
}

int32_t RateDeviationTenths(uint32_t actual, uint32_t wanted) {
    if (wanted == 0) {
        return 0;
    }
    const int64_t difference = int64_t{actual} - int64_t{wanted};
    // Rounded away from zero, so that any deviation past a limit shows past it.
    const int64_t scaled = difference * 1000;
    const int64_t tenths =
        scaled >= 0 ? (scaled + wanted - 1) / wanted : -((-scaled + wanted - 1) / wanted);
    return static_cast<int32_t>(tenths);
}
