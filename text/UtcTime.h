#pragma once
// UtcTime: a moment as records and ledgers write it, UTC in ISO 8601 with
// milliseconds and "Z": 2026-12-09T03:45:05.123Z.

#include <chrono>
#include <string>

// The moment at as text (empty if the C library cannot break it down).
std::string UtcIsoTime(std::chrono::system_clock::time_point at);
