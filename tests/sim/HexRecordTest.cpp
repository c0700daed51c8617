#include <gtest/gtest.h>

#include <sstream>

#include "sim/HexRecord.h"

using sim::CheckRecord;
using sim::RecordStatus;

TEST(RecordCheck, AcceptsValidRecordsInEitherCase) {
    EXPECT_EQ(CheckRecord(":10010000214601360121470136007EFE09D2190140"), RecordStatus::Ok);
    EXPECT_EQ(CheckRecord(":10010000214601360121470136007efe09d2190140"), RecordStatus::Ok);
    EXPECT_EQ(CheckRecord(":00000001FF"), RecordStatus::Ok);
}

TEST(RecordCheck, FindsAWrongChecksum) {
    EXPECT_EQ(CheckRecord(":10010000214601360121470136007EFE09D2190141"),
              RecordStatus::BadChecksum);
    EXPECT_EQ(CheckRecord(":00000001FE"), RecordStatus::BadChecksum);
}

TEST(RecordCheck, FindsAByteCountThatDoesNotMatchTheData) {
    // Count says 2 bytes, one is there; the checksum is right for the bytes.
    EXPECT_EQ(CheckRecord(":02000000AA54"), RecordStatus::BadLength);
}

TEST(RecordCheck, FindsBrokenSyntax) {
    EXPECT_EQ(CheckRecord(""), RecordStatus::BadSyntax);
    EXPECT_EQ(CheckRecord("00000001FF"), RecordStatus::BadSyntax);    // no colon
    EXPECT_EQ(CheckRecord(":00000001F"), RecordStatus::BadSyntax);    // odd digits
    EXPECT_EQ(CheckRecord(":0000G001FF"), RecordStatus::BadSyntax);   // not hex
    EXPECT_EQ(CheckRecord(":000001FF"), RecordStatus::BadSyntax);     // too short
    EXPECT_EQ(CheckRecord(":00000001FF "), RecordStatus::BadSyntax);  // trailing blank
    // A record directly followed by a command letter, as when a file's last
    // record has no line end and "C\r\n" follows it.
    EXPECT_EQ(CheckRecord(":00000001FFC"), RecordStatus::BadSyntax);
}

TEST(RecordWriting, WritesRecordsThatPassTheCheck) {
    std::string line = sim::FormatRecord(0x1234, 0x00, {0x01, 0x02, 0xFF});
    EXPECT_EQ(line,
              ":03123400"
              "0102FF"
              "B5");
    EXPECT_EQ(CheckRecord(line), RecordStatus::Ok);
    EXPECT_EQ(sim::FormatRecord(0, 0x01, {}), ":00000001FF");
}

TEST(RecordWriting, MakesAFileOfExactlyTheRecordsAsked) {
    std::string text = sim::MakeHexFile(300, 16, 7);
    std::istringstream lines(text);
    std::string line;
    int count = 0;
    std::string last;
    while (std::getline(lines, line)) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r');
        line.pop_back();
        EXPECT_EQ(CheckRecord(line), RecordStatus::Ok) << line;
        last = line;
        ++count;
    }
    EXPECT_EQ(count, 300);
    EXPECT_EQ(last, ":00000001FF");
    EXPECT_EQ(text, sim::MakeHexFile(300, 16, 7)) << "the same seed gives the same file";
    EXPECT_NE(text, sim::MakeHexFile(300, 16, 8));
}

TEST(RecordWriting, AddsAnExtendedAddressRecordPast64KiB) {
    // 255-byte records: the 258th starts past 64 KiB.
    std::string text = sim::MakeHexFile(300, 255, 1);
    EXPECT_NE(text.find(":020000040001F9\r\n"), std::string::npos);
}
