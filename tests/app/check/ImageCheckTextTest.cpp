// The texts of the image check, formatted in this process from a result
// (ImageCheckRunTest.cpp runs the real program).

#include <gtest/gtest.h>

#include <string>

#include "app/check/ImageCheckRun.h"

namespace {

ImageCheckResult Sound() {
    ImageCheckResult result;
    result.opened = true;
    result.records = 3;
    result.dataBytes = 32;
    result.ranges = {{0x0, 0xF}, {0x08000000, 0x0800000F}};
    result.sha256 = std::string(64, 'a');
    return result;
}

TEST(ImageCheckText, TheOkLineNamesRangesStartAndDigest) {
    ImageCheckResult result = Sound();
    EXPECT_EQ(ImageOkLine("app.hex", result),
              "app.hex: image OK: 3 records, 32 data bytes at 0x00000000-0x0000000F "
              "0x08000000-0x0800000F, no start address, SHA-256 " +
                  std::string(64, 'a') + "\n");
    result.startKind = StartAddressKind::Segment;
    result.startAddress = 0x1234ABCD;
    result.sha256.clear();
    EXPECT_EQ(ImageOkLine("a", result),
              "a: image OK: 3 records, 32 data bytes at "
              "0x00000000-0x0000000F 0x08000000-0x0800000F, "
              "start 1234:ABCD (CS:IP), SHA-256 unknown\n");
    result.startKind = StartAddressKind::Linear;
    EXPECT_NE(ImageOkLine("a", result).find(", start 0x1234ABCD (EIP), "), std::string::npos);
}

TEST(ImageCheckText, TheOkLineSaysLinesSkippedAndTheUnitOfWordAddressesOnlyWhenThereAreAny) {
    ImageCheckResult result = Sound();
    result.skippedLines = 1;
    result.wordBytes = 2;
    EXPECT_EQ(ImageOkLine("a", result),
              "a: image OK: 3 records, 1 line skipped, 32 data bytes at 0x00000000-0x0000000F "
              "0x08000000-0x0800000F (16-bit word addresses), no start address, SHA-256 " +
                  std::string(64, 'a') + "\n");
    result.skippedLines = 2;
    result.wordBytes = 4;
    EXPECT_NE(ImageOkLine("a", result)
                  .find("3 records, 2 lines skipped, 32 data bytes at "
                        "0x00000000-0x0000000F 0x08000000-0x0800000F "
                        "(32-bit word addresses), no start"),
              std::string::npos);
}

TEST(ImageCheckText, ManyRangesShowTheFirstEightAndACount) {
    ImageCheckResult result = Sound();
    result.ranges.clear();
    for (uint32_t i = 0; i < 11; ++i) {
        result.ranges.push_back({i * 0x100, i * 0x100 + 1});
    }
    const std::string line = ImageOkLine("a", result);
    EXPECT_NE(line.find(" 0x00000700-0x00000701 and 3 more ranges, no start"), std::string::npos)
        << line;
    EXPECT_EQ(line.find("0x00000800"), std::string::npos) << line;
}

TEST(ImageCheckText, FindingsWithTheirLinesThenTheRestCountedThenTheRefusal) {
    ImageCheckResult result;
    result.opened = true;
    result.findings = {{7, "checksum 0x01 is wrong (0x02 expected)"},
                       {0, "no end-of-file record (type 01)"}};
    result.findingCount = 3;
    EXPECT_EQ(ImageFindingsText("d/app.hex", result),
              "d/app.hex:7: checksum 0x01 is wrong (0x02 expected)\n"
              "d/app.hex: no end-of-file record (type 01)\n"
              "... and 1 more finding\n"
              "d/app.hex: image refused: 3 findings\n");
    result.findings.resize(1);
    result.findingCount = 1;
    EXPECT_EQ(ImageFindingsText("a", result),
              "a:7: checksum 0x01 is wrong (0x02 expected)\n"
              "a: image refused: 1 finding\n");
}

}  // namespace
