// Deadline: the time left of a phase's limit, with times given by the test.

#include <gtest/gtest.h>

#include <chrono>

#include "protocol/Deadline.h"

namespace {

using std::chrono::milliseconds;
const Deadline::Clock::time_point kStart{std::chrono::seconds(1000)};

TEST(Deadline, NotStartedNeverPassesAndLeavesTheLimit) {
    const Deadline deadline;
    EXPECT_FALSE(deadline.Started());
    EXPECT_FALSE(deadline.Passed(kStart + std::chrono::hours(1000)));
    EXPECT_EQ(deadline.RemainingMs(3000, kStart), 3000u);
}

TEST(Deadline, CountsFromTheFirstStartOnly) {
    Deadline deadline;
    deadline.StartOnce(1000, kStart);
    deadline.StartOnce(1000, kStart + milliseconds(900));
    EXPECT_FALSE(deadline.Passed(kStart + milliseconds(999)));
    EXPECT_TRUE(deadline.Passed(kStart + milliseconds(1000)));
    deadline.Reset();
    EXPECT_FALSE(deadline.Passed(kStart + milliseconds(5000)));
    deadline.StartOnce(1000, kStart + milliseconds(5000));
    EXPECT_TRUE(deadline.Passed(kStart + milliseconds(6000)));
}

TEST(Deadline, RemainingIsRoundedUpCappedAndZeroOncePassed) {
    Deadline deadline;
    deadline.StartOnce(10000, kStart);
    EXPECT_EQ(deadline.RemainingMs(3000, kStart), 3000u);
    EXPECT_EQ(deadline.RemainingMs(3000, kStart + milliseconds(8000)), 2000u);
    EXPECT_EQ(deadline.RemainingMs(3000, kStart + std::chrono::microseconds(9999001)), 1u);
    EXPECT_EQ(deadline.RemainingMs(3000, kStart + milliseconds(10000)), 0u);
    EXPECT_EQ(deadline.RemainingMs(3000, kStart + milliseconds(20000)), 0u);
}

}  // namespace
