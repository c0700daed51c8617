#include "text/UtcTime.h"

#include <cstdio>
#include <ctime>

// The program has one thread, so the C library's shared result is safe to use.
std::string UtcIsoTime(std::chrono::system_clock::time_point at) {
    const auto sinceEpoch = at.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count();
    const std::time_t whole = static_cast<std::time_t>(seconds.count());
    const std::tm* utc = std::gmtime(&whole);
    char text[40] = "";
    if (utc != nullptr) {
        const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", utc);
        std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis));
    }
    return text;
}
