#pragma once
// Times of the yield summary: milliseconds since 1970-01-01T00:00:00Z (UTC,
// no leap seconds), read from the records' started (ISO 8601 with "Z") and
// from the filters' values, and shown again as dates and times.

#include <cstdint>
#include <optional>
#include <string>

// A filter's time: "YYYY-MM-DD" (midnight) or "YYYY-MM-DDTHH:MM[:SS]Z";
// nothing for any other text or a date or time that does not exist.
std::optional<int64_t> FilterTime(const std::string& text);

// A record's started: "YYYY-MM-DDTHH:MM:SS[.fraction]Z" (the fraction is
// taken to the millisecond); nothing for any other text.
std::optional<int64_t> RecordTime(const std::string& text);

// The UTC day of a time, counted from 1970-01-01 (day 0).
int64_t DayOf(int64_t milliseconds);
// "YYYY-MM-DD" of a day.
std::string DayText(int64_t day);
// "YYYY-MM-DD HH:MM" and "YYYY-MM-DD HH:MM:SS" of a time.
std::string MinuteText(int64_t milliseconds);
std::string SecondText(int64_t milliseconds);

inline constexpr int64_t kMillisecondsPerHour = 3600 * 1000;
inline constexpr int64_t kMillisecondsPerDay = 24 * kMillisecondsPerHour;
