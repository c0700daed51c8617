#include "text/LineStamper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Feeds the chunks one after the other, each stamped with its number.
std::string Stamp(const std::vector<std::string>& chunks) {
    LineStamper stamper;
    std::string out;
    for (size_t i = 0; i < chunks.size(); ++i) {
        stamper.Add(chunks[i].data(), chunks[i].size(), "<" + std::to_string(i) + ">", out);
    }
    return out;
}

TEST(LineStamper, StampsEachLineAtItsFirstByte) {
    EXPECT_EQ(Stamp({"one\ntwo\r\nthree"}), "<0>one\n<0>two\r\n<0>three");
    EXPECT_EQ(Stamp({""}), "");
}

TEST(LineStamper, ALineWaitingForItsNextByteGetsItsStampWhenItComes) {
    EXPECT_EQ(Stamp({"one\n", "two"}), "<0>one\n<1>two");
    EXPECT_EQ(Stamp({"gro", "wing\n"}), "<0>growing\n");
}

TEST(LineStamper, ACarriageReturnStartsALineUnlessALineFeedFollows) {
    EXPECT_EQ(Stamp({"a\rb"}), "<0>a\r<0>b");
    EXPECT_EQ(Stamp({"a\r", "\nb"}), "<0>a\r\n<1>b");
    EXPECT_EQ(Stamp({"a\r", "b"}), "<0>a\r<1>b");
    EXPECT_EQ(Stamp({"\r\r\n"}), "<0>\r<0>\r\n");
    // After LF a CR is a line's first byte.
    EXPECT_EQ(Stamp({"a\n\rb"}), "<0>a\n<0>\r<0>b");
}

TEST(LineStamper, StartLineStampsTheNextByteWhateverCameBefore) {
    LineStamper stamper;
    std::string out;
    stamper.Add("half", 4, "<a>", out);
    EXPECT_FALSE(stamper.AtLineStart());
    stamper.StartLine();
    EXPECT_TRUE(stamper.AtLineStart());
    stamper.Add("\nnext", 5, "<b>", out);
    EXPECT_EQ(out, "<a>half<b>\n<b>next");
}

TEST(LineStamper, StampFormats) {
    EXPECT_EQ(ElapsedStamp(0), "[   0.000] ");
    EXPECT_EQ(ElapsedStamp(12345), "[  12.345] ");
    EXPECT_EQ(ElapsedStamp(123456789), "[123456.789] ");
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 11;
    when.tm_mday = 9;
    when.tm_hour = 15;
    when.tm_min = 4;
    when.tm_sec = 5;
    EXPECT_EQ(DateTimeStamp(when, 7), "[2026-12-09 15:04:05.007] ");
}

}  // namespace
