// The yield summary's small rules, each where a fault would hide: times of
// the filters and records, rounding half away from zero, percentiles by
// nearest rank, and the terminal's columns.

#include <gtest/gtest.h>

#include <string>

#include "app/yield/YieldSummary.h"
#include "app/yield/YieldTable.h"
#include "app/yield/YieldTime.h"

TEST(YieldTime, FiltersTakeADayOrATimeInUtcAndNothingElse) {
    EXPECT_EQ(FilterTime("1970-01-01"), 0);
    EXPECT_EQ(FilterTime("1970-01-02T00:00Z"), kMillisecondsPerDay);
    EXPECT_EQ(FilterTime("2024-02-29T23:59:59Z"), RecordTime("2024-02-29T23:59:59.000Z"));
    EXPECT_EQ(FilterTime("2000-03-01"), int64_t{951868800} * 1000);
    for (const char* bad : {"2023-02-29", "2026-13-01", "2026-12-32", "2026-12-09T24:00Z",
                            "2026-12-09T12:60Z", "2026-12-09T12:00:60Z", "2026-12-09T12:00",
                            "2026-12-09 12:00Z", "2026-12-9", "", "2026-12-09T12:00:00.5Z"}) {
        EXPECT_FALSE(FilterTime(bad)) << bad;
    }
}

TEST(YieldTime, RecordsStartedAtTheirMillisecond) {
    const int64_t second = *RecordTime("2026-12-09T03:52:54Z");
    EXPECT_EQ(RecordTime("2026-12-09T03:52:54.185Z"), second + 185);
    EXPECT_EQ(RecordTime("2026-12-09T03:52:54.1Z"), second + 100);
    EXPECT_EQ(RecordTime("2026-12-09T03:52:54.18599Z"), second + 185);
    for (const char* bad : {"2026-12-09T03:52:54.Z", "2026-12-09T03:52:54.1x5Z",
                            "2026-12-09T03:52:54.185", "2026-12-09T03:52Z", "yesterday"}) {
        EXPECT_FALSE(RecordTime(bad)) << bad;
    }
    EXPECT_EQ(DayText(DayOf(second)), "2026-12-09");
    EXPECT_EQ(SecondText(second + 999), "2026-12-09 03:52:54");
    EXPECT_EQ(DayText(DayOf(-1)), "1969-12-31");
}

TEST(YieldFigures, PercentsAreRoundedHalfAwayFromZeroToATenth) {
    EXPECT_EQ(PercentText(2, 3), "66.7");
    EXPECT_EQ(PercentText(1, 3), "33.3");
    EXPECT_EQ(PercentText(1, 16), "6.3");    // 6.25
    EXPECT_EQ(PercentText(1, 80), "1.3");    // 1.25
    EXPECT_EQ(PercentText(1, 2000), "0.1");  // 0.05
    EXPECT_EQ(PercentText(1, 2001), "0.0");
    EXPECT_EQ(PercentText(7, 7), "100.0");
    EXPECT_EQ(PercentText(0, 0), "");
    EXPECT_EQ(SecondsText(int64_t{41206}), "41.206");
    EXPECT_EQ(SecondsText(int64_t{5}), "0.005");
    EXPECT_EQ(SecondsText(std::nullopt), "");
}

TEST(YieldFigures, APortIsFlaggedFromThreeFailuresInARowOrTwentyPointsBelowItsNeighbours) {
    EXPECT_EQ(FlagReason(2, 5, 3, 5, 5), "");
    EXPECT_EQ(FlagReason(3, 5, 2, 5, 5), "3 failures in a row");
    EXPECT_EQ(FlagReason(0, 10, 8, 10, 10), "80.0 % against 100.0 %");
    EXPECT_EQ(FlagReason(0, 10, 8, 3, 3), "80.0 % against 100.0 %");
    EXPECT_EQ(FlagReason(0, 10, 8, 1000, 999), "");  // 80 against 99.9: 19.9 points
    EXPECT_EQ(FlagReason(0, 9, 0, 10, 10), "");      // too few runs to judge
    EXPECT_EQ(FlagReason(0, 10, 0, 0, 0), "");       // no neighbour
    EXPECT_EQ(FlagReason(4, 10, 2, 10, 10), "4 failures in a row, 20.0 % against 100.0 %");
}

TEST(YieldTable, CutsTextColumnsToFitAndKeepsNumbersWhole) {
    TextTable table({{"name", true}, {"runs", false}});
    table.Add({std::string(150, 'x'), "123456"}, "flagged: 3 failures in a row");
    table.Add({"\xC3\xA9t\xC3\xA9", "1"});
    const std::string text = table.Text();
    size_t lines = 0;
    for (size_t start = 0; start < text.size(); ++lines) {
        const size_t end = text.find('\n', start);
        EXPECT_LE(DisplayWidth(text.substr(start, end - start)), TextTable::kTableWidth);
        start = end + 1;
    }
    EXPECT_EQ(lines, 3u);
    EXPECT_NE(text.find("x\xE2\x80\xA6  123456  flagged: 3 failures in a row\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\n\xC3\xA9t\xC3\xA9"), std::string::npos) << text;
    EXPECT_EQ(CutToWidth("\xC3\xA9t\xC3\xA9t\xC3\xA9", 3), "\xC3\xA9t\xE2\x80\xA6");
    EXPECT_EQ(CutToWidth("abc", 3), "abc");
}
