#include "text/UtcTime.h"

#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;
using std::chrono::system_clock;

TEST(UtcIsoTime, GivesTheUtcMomentWithThreeDigitsOfMilliseconds) {
    // 2026-12-09T03:45:05Z
    const system_clock::time_point at{std::chrono::seconds(1796787905)};
    EXPECT_EQ(UtcIsoTime(at), "2026-12-09T03:45:05.000Z");
    EXPECT_EQ(UtcIsoTime(at + milliseconds(7)), "2026-12-09T03:45:05.007Z");
    EXPECT_EQ(UtcIsoTime(at + milliseconds(999)), "2026-12-09T03:45:05.999Z");
    EXPECT_EQ(UtcIsoTime(at + std::chrono::microseconds(123999)), "2026-12-09T03:45:05.123Z")
        << "milliseconds are cut, never rounded up into the next second";
}

}  // namespace
