#pragma once
// Rates of a UART that divides a fixed clock by a whole number: the divisor
// is baseRate / rate rounded to the nearest whole number (at least 1, at most
// 65535), so the line runs at baseRate / divisor, which may be far from the
// rate asked for.

#include <cstdint>

// The rate such a UART runs when asked for rate (both in bits per second,
// baseRate the rate at divisor 1). 0 when either is 0.
uint32_t DivisorRate(uint32_t baseRate, uint32_t rate);

// The deviation of actual from wanted in tenths of a percent, signed
// (actual 12800 for wanted 12345 gives 37).
int32_t RateDeviationTenths(uint32_t actual, uint32_t wanted);

// The largest deviation a line still works with: 1 %.
inline constexpr int32_t kMaxRateDeviationTenths = 10;
