// Stamping record lines as they go past, and the check that the image has
// data at every byte of the field.
#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/text/TempFile.h"
#include "text/RecordStamp.h"

namespace {

StampSpec Spec(const char* text, uint32_t wordBytes = 1) {
    StampSpec spec;
    spec.wordBytes = wordBytes;
    std::string why;
    EXPECT_TRUE(ParseStampSpec(text, spec, why)) << why;
    return spec;
}

// A record line of type with the bytes given, its checksum right.
std::string Record(uint16_t offset, uint8_t type, const std::vector<uint8_t>& data,
                   const char* lineEnd = "\r\n") {
    char text[16];
    std::snprintf(text, sizeof text, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                  offset, type);
    std::string line = text;
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) + type;
    for (uint8_t byte : data) {
        std::snprintf(text, sizeof text, "%02X", byte);
        line += text;
        sum += byte;
    }
    std::snprintf(text, sizeof text, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + text + lineEnd;
}

std::string Filtered(RecordStamp& stamp, std::string line) {
    stamp.Filter(&line[0], line.size());
    return line;
}

const std::vector<uint8_t> kBlank(16, 0xFF);

}  // namespace

TEST(RecordStamp, ReplacesOnlyTheFieldsBytesAndTheChecksum) {
    RecordStamp stamp(Spec("0x0104:u32le"));
    stamp.Arm({0x11, 0x22, 0x33, 0x44});
    EXPECT_EQ(Filtered(stamp, Record(0x00F0, 0, kBlank)), Record(0x00F0, 0, kBlank));
    std::vector<uint8_t> expected = kBlank;
    expected[4] = 0x11;
    expected[5] = 0x22;
    expected[6] = 0x33;
    expected[7] = 0x44;
    EXPECT_EQ(Filtered(stamp, Record(0x0100, 0, kBlank)), Record(0x0100, 0, expected));
    EXPECT_EQ(Filtered(stamp, Record(0x0110, 0, kBlank, "\n")), Record(0x0110, 0, kBlank, "\n"));
    EXPECT_EQ(Filtered(stamp, Record(0, 1, {})), Record(0, 1, {}));
}

TEST(RecordStamp, AFieldAcrossTwoRecordsIsWrittenInBoth) {
    RecordStamp stamp(Spec("0x010E:u32be"));
    stamp.Arm({0xA1, 0xA2, 0xA3, 0xA4});
    std::vector<uint8_t> first = kBlank;
    first[14] = 0xA1;
    first[15] = 0xA2;
    std::vector<uint8_t> second = kBlank;
    second[0] = 0xA3;
    second[1] = 0xA4;
    EXPECT_EQ(Filtered(stamp, Record(0x0100, 0, kBlank)), Record(0x0100, 0, first));
    EXPECT_EQ(Filtered(stamp, Record(0x0110, 0, kBlank)), Record(0x0110, 0, second));
}

TEST(RecordStamp, FollowsExtendedLinearAndSegmentAddresses) {
    RecordStamp stamp(Spec("0x00020004:u16le"));
    stamp.Arm({0xBE, 0xEF});
    std::vector<uint8_t> stamped(4, 0xFF);
    stamped[0] = 0xBE;
    stamped[1] = 0xEF;
    const std::vector<uint8_t> blank(4, 0xFF);
    // At 0x0004 of the first 64 KiB: not the field.
    EXPECT_EQ(Filtered(stamp, Record(0x0004, 0, blank)), Record(0x0004, 0, blank));
    Filtered(stamp, Record(0, 4, {0x00, 0x02}));
    EXPECT_EQ(Filtered(stamp, Record(0x0004, 0, blank)), Record(0x0004, 0, stamped));
    // Segment 0x1FFF: base 0x1FFF0, so 0x0014 is the field; a record at
    // 0xFFFC runs from 0x2FFEC and wraps to 0x1FFF0 within its segment,
    // never reaching the field.
    Filtered(stamp, Record(0, 2, {0x1F, 0xFF}));
    EXPECT_EQ(Filtered(stamp, Record(0x0014, 0, blank)), Record(0x0014, 0, stamped));
    const std::vector<uint8_t> eight(8, 0xFF);
    EXPECT_EQ(Filtered(stamp, Record(0xFFFC, 0, eight)), Record(0xFFFC, 0, eight));
    // A new pass starts from address 0 again.
    stamp.Arm({0x01, 0x02});
    EXPECT_EQ(Filtered(stamp, Record(0x0014, 0, blank)), Record(0x0014, 0, blank));
}

// In an image whose addresses count 16-bit words, the field's address is a
// word's, and its bytes follow from that word's first byte on.
TEST(RecordStamp, AWordAddressNamesTheFieldsFirstWord) {
    RecordStamp stamp(Spec("0x00010082:u32le", 2));
    stamp.Arm({0x11, 0x22, 0x33, 0x44});
    std::vector<uint8_t> expected = kBlank;
    expected[4] = 0x11;
    expected[5] = 0x22;
    expected[6] = 0x33;
    expected[7] = 0x44;
    // Word 0x0080 before the extended address: not the field.
    EXPECT_EQ(Filtered(stamp, Record(0x0080, 0, kBlank)), Record(0x0080, 0, kBlank));
    Filtered(stamp, Record(0, 4, {0x00, 0x01}));
    EXPECT_EQ(Filtered(stamp, Record(0x0080, 0, kBlank)), Record(0x0080, 0, expected));
    // Words 0x10088 on: the field's bytes were all in the record before.
    EXPECT_EQ(Filtered(stamp, Record(0x0088, 0, kBlank)), Record(0x0088, 0, kBlank));
}

TEST(RecordStamp, LeavesLinesThatAreNoRecordsAlone) {
    RecordStamp stamp(Spec("0x0000:u16le"));
    stamp.Arm({1, 2});
    for (const std::string& line :
         {std::string(":0400000GFFFFFFFFFC\r\n"), std::string(":0400000\r\n"),
          std::string(":040000FFFFFFFFFC\r\n"), std::string(":04000000FFFFZZFFFC\r\n"),
          std::string(": 4000000FFFFFFFFFC\r\n")}) {
        EXPECT_EQ(Filtered(stamp, line), line);
    }
}

TEST(RecordStamp, RefusesToLetAnUnarmedFieldGoOut) {
    RecordStamp stamp(Spec("0x0100:u16le"));
    std::string line = Record(0x0100, 0, kBlank);
    EXPECT_THROW(stamp.Filter(&line[0], line.size()), std::logic_error);
    EXPECT_EQ(Filtered(stamp, Record(0x0200, 0, kBlank)), Record(0x0200, 0, kBlank));
}

TEST(StampCoverage, SaysWhichBytesOfTheFieldTheImageLacks) {
    const std::string image = Record(0x0100, 0, std::vector<uint8_t>(4, 0xFF), "\n") +
                              Record(0x0108, 0, std::vector<uint8_t>(4, 0xFF), "\n") +
                              Record(0, 1, {}, "\n");
    testfiles::TempFile file(image);
    const StampCoverage whole = CheckStampCoverage(file.Path().c_str(), Spec("0x0100:u32le"));
    EXPECT_TRUE(whole.Sound());
    const StampCoverage gap = CheckStampCoverage(file.Path().c_str(), Spec("0x0102:u64le"));
    EXPECT_FALSE(gap.Sound());
    EXPECT_EQ(gap.uncoveredCount, 4u);
    EXPECT_EQ(gap.firstUncovered, 0x0104u);
    EXPECT_EQ(gap.lastUncovered, 0x0107u);
    const StampCoverage beyond = CheckStampCoverage(file.Path().c_str(), Spec("0x0200:u16le"));
    EXPECT_EQ(beyond.uncoveredCount, 2u);
    EXPECT_FALSE(CheckStampCoverage((file.Path() + ".missing").c_str(), Spec("0:u16le")).opened);
}

TEST(StampCoverage, RefusesACoveringRecordWithAWrongChecksumByItsLine) {
    std::string bad = Record(0x0100, 0, std::vector<uint8_t>(4, 0xFF), "\n");
    bad[bad.size() - 2] = bad[bad.size() - 2] == '0' ? '1' : '0';
    std::string otherBad = Record(0x0200, 0, std::vector<uint8_t>(4, 0xFF), "\n");
    otherBad[otherBad.size() - 2] = otherBad[otherBad.size() - 2] == '0' ? '1' : '0';
    testfiles::TempFile file("not a record\n" + otherBad + bad + Record(0, 1, {}, "\n"));
    const StampCoverage coverage = CheckStampCoverage(file.Path().c_str(), Spec("0x0100:u16le"));
    EXPECT_EQ(coverage.uncoveredCount, 0u);
    EXPECT_EQ(coverage.badChecksumLine, 3);
    EXPECT_FALSE(coverage.Sound());
}

TEST(StampCoverage, TellsWhatTheFieldHoldsAndTheLineOfItsFirstRecord) {
    testfiles::TempFile file(
        "; made by hand\n" + Record(0x0100, 0, {0xFF, 0xFF, 0x12, 0x34}, "\n") +
        Record(0x0104, 0, {0x56, 0x78, 0x00, 0x00}, "\n") + Record(0, 1, {}, "\n"));
    const StampCoverage code = CheckStampCoverage(file.Path().c_str(), Spec("0x0102:u32le"));
    EXPECT_TRUE(code.Sound());
    EXPECT_EQ(code.bytes, (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(code.fieldLine, 2);
    EXPECT_FALSE(code.Blank());
    EXPECT_TRUE(CheckStampCoverage(file.Path().c_str(), Spec("0x0100:u16le")).Blank());
    const StampCoverage zeroed = CheckStampCoverage(file.Path().c_str(), Spec("0x0106:u16be"));
    EXPECT_TRUE(zeroed.Blank());
    EXPECT_EQ(zeroed.fieldLine, 3);
    EXPECT_FALSE(CheckStampCoverage(file.Path().c_str(), Spec("0x0101:u16le")).Blank())
        << "0xFF and 0x00 mixed";
}

TEST(StampCoverage, CountsWordsInAnImageAddressedInWords) {
    testfiles::TempFile file(Record(0x0100, 0, std::vector<uint8_t>(8, 0xFF), "\n") +
                             Record(0, 1, {}, "\n"));
    // Words 0x0100 to 0x0103 hold the 8 bytes.
    EXPECT_TRUE(CheckStampCoverage(file.Path().c_str(), Spec("0x0102:u32le", 2)).Sound());
    const StampCoverage past = CheckStampCoverage(file.Path().c_str(), Spec("0x0102:u64le", 2));
    EXPECT_EQ(past.uncoveredCount, 4u);
    EXPECT_EQ(past.firstUncovered, 0x0104u);
    EXPECT_EQ(past.lastUncovered, 0x0105u);
    EXPECT_EQ(Spec("0x0102:u64le", 2).LastAddress(), 0x0105u);
}
