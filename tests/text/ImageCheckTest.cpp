#include "text/ImageCheck.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "tests/text/TempFile.h"
#include "text/Sha256.h"

namespace {

using testfiles::TempFile;

// One record line ending in LF: count, address, type, data and the checksum
// that makes the bytes sum to 0, as upper-case hex.
std::string Record(int type, unsigned address, const std::vector<int>& data = {}) {
    std::vector<int> fields = {static_cast<int>(data.size()), static_cast<int>(address >> 8),
                               static_cast<int>(address & 0xFF), type};
    fields.insert(fields.end(), data.begin(), data.end());
    int sum = 0;
    for (int field : fields) {
        sum += field;
    }
    fields.push_back(-sum & 0xFF);
    std::ostringstream line;
    line << ':' << std::uppercase << std::hex << std::setfill('0');
    for (int field : fields) {
        line << std::setw(2) << (field & 0xFF);
    }
    return line.str() + "\n";
}

std::string Data(unsigned address, int count, int value = 0x5A) {
    return Record(0x00, address, std::vector<int>(static_cast<size_t>(count), value));
}

const std::string kEnd = Record(0x01, 0);

std::string Linear(unsigned upper) {
    return Record(0x04, 0, {static_cast<int>(upper >> 8), static_cast<int>(upper & 0xFF)});
}

std::string Segment(unsigned paragraph) {
    return Record(0x02, 0, {static_cast<int>(paragraph >> 8), static_cast<int>(paragraph & 0xFF)});
}

ImageCheckResult Check(const std::string& bytes, size_t kept = kKeptImageFindings,
                       uint32_t wordBytes = 1) {
    TempFile temp(bytes);
    return CheckImageFile(temp.Path().c_str(), kept, wordBytes);
}

// The findings as "LINE: message".
std::vector<std::string> Findings(const ImageCheckResult& result) {
    std::vector<std::string> texts;
    for (const ImageFinding& finding : result.findings) {
        texts.push_back(std::to_string(finding.line) + ": " + finding.message);
    }
    return texts;
}

std::vector<std::string> FindingsOf(const std::string& bytes) {
    return Findings(Check(bytes));
}

std::string RangesOf(const ImageCheckResult& result) {
    std::ostringstream text;
    text << std::uppercase << std::hex << std::setfill('0');
    for (const AddressRange& range : result.ranges) {
        text << std::setw(8) << range.first << '-' << std::setw(8) << range.last << ' ';
    }
    return text.str();
}

using Lines = std::vector<std::string>;

TEST(ImageCheckSoundImage, GivesRecordsDataBytesMergedRangesAndTheDigestOfTheBytes) {
    const std::string image =
        "# comment lines and blank lines are skipped\n"
        "\n" +
        Data(0x0000, 16) + Data(0x0010, 16) + Data(0x0040, 8) + Linear(0x0800) + Data(0x0000, 4) +
        kEnd;
    TempFile temp(image);
    const ImageCheckResult result = CheckImageFile(temp.Path().c_str());

    EXPECT_TRUE(result.Sound()) << ::testing::PrintToString(Findings(result));
    EXPECT_EQ(result.records, 6);
    EXPECT_EQ(result.dataBytes, 44);
    EXPECT_EQ(RangesOf(result), "00000000-0000001F 00000040-00000047 08000000-08000003 ");
    EXPECT_EQ(result.startKind, StartAddressKind::None);
    EXPECT_EQ(result.sha256, Sha256OfFile(temp.Path().c_str()).value());
}

TEST(ImageCheckSoundImage, LineEndsLowerCaseAndAMissingLastLineFeedChangeNothing) {
    std::string lf = Data(0x100, 16) + kEnd;
    std::string lower = lf;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string crlf;
    for (char c : lf) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    for (const std::string& image : {lf, lower, crlf, lf.substr(0, lf.size() - 1)}) {
        const ImageCheckResult result = Check(image);
        EXPECT_TRUE(result.Sound()) << image << ::testing::PrintToString(Findings(result));
        EXPECT_EQ(RangesOf(result), "00000100-0000010F ");
    }
}

TEST(ImageCheckSoundImage, GivesTheLastStartAddressAsCsIpOrEip) {
    const ImageCheckResult segment =
        Check(Data(0, 1) + Record(0x03, 0, {0x12, 0x34, 0x56, 0x78}) + kEnd);
    EXPECT_EQ(segment.startKind, StartAddressKind::Segment);
    EXPECT_EQ(segment.startAddress, 0x12345678u);

    const ImageCheckResult linear = Check(Data(0, 1) + Record(0x03, 0, {0, 0, 0, 1}) +
                                          Record(0x05, 0, {0x08, 0x00, 0x01, 0x01}) + kEnd);
    EXPECT_EQ(linear.startKind, StartAddressKind::Linear);
    EXPECT_EQ(linear.startAddress, 0x08000101u);
}

TEST(ImageCheckSoundImage, CheckingAnOpenFileGoesFromWhereItStandsAndTakesNoDigest) {
    TempFile temp("header line\n" + Data(0, 2) + kEnd);
    UploadFile file;
    ASSERT_TRUE(file.Open(temp.Path().c_str()));
    char line[kUploadLineBytes];
    ASSERT_GT(file.ReadLine(line, kUploadLineBytes), 0u);

    const ImageCheckResult result = CheckImage(file);

    EXPECT_TRUE(result.Sound());
    EXPECT_EQ(result.records, 2);
    EXPECT_EQ(result.sha256, "");
}

TEST(ImageCheckRecordLine, EachFaultIsNamedOnceWithTheLineItIsOn) {
    const std::string image = "# header\r\n" +     // 1
                              Data(0, 1) +         // 2
                              ":10000000 5A\n" +   // 3
                              ":0100000\n" +       // 4
                              ":0000\n" +          // 5
                              ":0200000001FD\n" +  // 6: 1 data byte, count 2
                              ":0100100001EF\n" +  // 7: checksum
                              ":01002000\x01"
                              "00DF\n" +  // 8
                              Data(0x30, 1).substr(0, 12) +
                              "zz\n" +  // 9
                              kEnd;     // 10
    EXPECT_EQ(FindingsOf(image), (Lines{
                                     "3: character 0x20 at column 10 is not a hex digit",
                                     "4: odd number of hex digits (7)",
                                     "5: record of 2 bytes is too short (count, address, type "
                                     "and checksum take 5)",
                                     "6: byte count 2 does not match the 1 data bytes",
                                     "7: checksum 0xEF is wrong (0xEE expected)",
                                     "8: character 0x01 at column 10 is not a hex digit",
                                     "9: character 'z' at column 13 is not a hex digit",
                                 }));
}

TEST(ImageCheckRecordLine, AWrongChecksumStillCountsItsDataAndItsEndOfFile) {
    std::string bad = Data(0, 4);
    bad[bad.size() - 2] = bad[bad.size() - 2] == '0' ? '1' : '0';
    std::string end = kEnd;
    end[end.size() - 2] = 'E';

    const ImageCheckResult result = Check(bad + end);

    EXPECT_EQ(result.findingCount, 2) << ::testing::PrintToString(Findings(result));
    EXPECT_EQ(result.dataBytes, 4);
}

TEST(ImageCheckRecordLine, TextAfterAnEndOfFileMarkIsOnTheSameLine) {
    // 0x1A ends the record as the download reads it; the rest of the line
    // is read as a line of its own, and the lines after keep their numbers.
    EXPECT_EQ(FindingsOf(Data(0, 1).substr(0, 13) +
                         "\x1A"
                         ":zz\n" +
                         Data(1, 1) + ":0\n" + kEnd),
              (Lines{"1: character 'z' at column 2 is not a hex digit",
                     "3: odd number of hex digits (1)"}));
}

TEST(ImageCheckRecordLine, AByteOrderMarkIsNamedOnlyWhereTheDownloadSkipsTheLine) {
    const std::string image = Linear(0x0800) + Data(0, 4) + kEnd;
    // At the very start of the file the mark is no part of the first line.
    const ImageCheckResult marked = Check("\xEF\xBB\xBF" + image);
    EXPECT_TRUE(marked.Sound());
    EXPECT_EQ(marked.sha256, Sha256Hex(image.data(), image.size())) << "the digest of the data";
    EXPECT_EQ(FindingsOf(Data(4, 4) + "\xEF\xBB\xBF" + image),
              (Lines{"2: the line begins with a byte-order mark, so the download skips it"}));
}

TEST(ImageCheckRecordTypes, OnlyZeroToFiveAndAddressRecordsOfTheirLength) {
    const std::string image = Data(0, 1) + Record(0x06, 0, {1}) + Record(0x02, 0, {1}) +
                              Record(0x04, 0, {0, 1, 2}) + Record(0x03, 0, {0, 0, 1}) +
                              Record(0x05, 0, {0, 0, 0, 1, 2}) + kEnd;
    const ImageCheckResult result = Check(image);
    EXPECT_EQ(Findings(result),
              (Lines{
                  "2: unknown record type 06 (00 to 05 expected)",
                  "3: extended segment address record (type 02) with 1 data bytes (2 expected)",
                  "4: extended linear address record (type 04) with 3 data bytes (2 expected)",
                  "5: start segment address record (type 03) with 3 data bytes (4 expected)",
                  "6: start linear address record (type 05) with 5 data bytes (4 expected)",
              }));
    EXPECT_EQ(result.startKind, StartAddressKind::None);
}

TEST(ImageCheckRecordTypes, AnExtendedAddressWithAnAddressFieldIsNamedAndStillApplied) {
    const ImageCheckResult result = Check(Record(0x04, 0x0010, {0x08, 0x00}) + Data(0, 4) + kEnd);
    EXPECT_EQ(Findings(result), (Lines{"1: extended linear address record (type 04) with address "
                                       "field 0010 (0000 expected)"}));
    EXPECT_EQ(RangesOf(result), "08000000-08000003 ");
}

TEST(ImageCheckEndOfFile, ExactlyOneAndNothingAfterIt) {
    EXPECT_EQ(FindingsOf(Data(0, 1)), (Lines{"0: no end-of-file record (type 01)"}));
    // A record after the end is named once; a second end each time.
    EXPECT_EQ(FindingsOf(Data(0, 1) + kEnd + Data(1, 1) + Data(2, 1) + kEnd + kEnd),
              (Lines{
                  "3: record after the end-of-file record of line 2",
                  "5: another end-of-file record (the first is on line 2)",
                  "6: another end-of-file record (the first is on line 2)",
              }));
}

TEST(ImageCheckEndOfFile, AFileWithoutDataOrWithoutRecordsIsRefused) {
    EXPECT_EQ(FindingsOf(kEnd), (Lines{"0: no data record: the image writes no byte"}));
    EXPECT_EQ(FindingsOf(Data(0, 0) + kEnd),
              (Lines{"0: no data record: the image writes no byte"}));
    for (const std::string& text : {std::string(), std::string("\n\n"), std::string("; :00\n")}) {
        const ImageCheckResult result = Check(text);
        EXPECT_FALSE(result.Sound());
        EXPECT_EQ(Findings(result), (Lines{"0: no record line (no line begins with ':')"}));
    }
}

TEST(ImageCheckOverlaps, AByteWrittenTwiceIsNamedWithTheBytesAndTheirRange) {
    const std::string image = Data(0x0000, 16) + Data(0x0020, 16) +
                              Data(0x0008, 32) +  // over the end of the first and the gap
                              Data(0x0030, 1) +   // just after: no overlap
                              Data(0x002F, 1) + kEnd;
    const ImageCheckResult result = Check(image);
    EXPECT_EQ(Findings(result), (Lines{
                                    "3: data written twice: 16 bytes in 0x00000008-0x00000027",
                                    "5: data written twice: 1 bytes in 0x0000002F-0x0000002F",
                                }));
    EXPECT_EQ(RangesOf(result), "00000000-00000030 ");
}

TEST(ImageCheckOverlaps, ExtendedAddressesAreApplied) {
    // Segment 0x1000 and linear 0x0001 both start at 0x10000.
    EXPECT_EQ(
        FindingsOf(Linear(0x0001) + Data(0x0004, 4) + Segment(0x1000) + Data(0x0006, 4) + kEnd),
        (Lines{"4: data written twice: 2 bytes in 0x00010006-0x00010007"}));
    // The same offsets in other 64 KiB blocks do not meet.
    const ImageCheckResult apart = Check(Data(0, 16) + Linear(1) + Data(0, 16) + Linear(0x8000) +
                                         Data(0, 16) + Segment(0x0100) + Data(0, 16) + kEnd);
    EXPECT_TRUE(apart.Sound()) << ::testing::PrintToString(Findings(apart));
    EXPECT_EQ(RangesOf(apart),
              "00000000-0000000F 00001000-0000100F 00010000-0001000F "
              "80000000-8000000F ");
}

TEST(ImageCheckOverlaps, SegmentRecordsWrapInTheirSegmentLinearOnesRunOn) {
    // 16 bytes from offset 0xFFF8: segment-addressed, the last 8 wrap to the
    // segment's start; linear, they go on into the next 64 KiB.
    EXPECT_EQ(FindingsOf(Segment(0x1000) + Data(0x0000, 1) + Data(0xFFF8, 16) + kEnd),
              (Lines{"3: data written twice: 1 bytes in 0x00010000-0x00010000"}));
    const ImageCheckResult linear = Check(Data(0xFFF8, 16) + Linear(1) + Data(0x0000, 1) + kEnd);
    EXPECT_EQ(Findings(linear), (Lines{"3: data written twice: 1 bytes in 0x00010000-0x00010000"}));
    EXPECT_EQ(RangesOf(linear), "0000FFF8-00010007 ");
    // At the top of the 4 GiB, a linear record wraps to 0.
    const ImageCheckResult top = Check(Linear(0xFFFF) + Data(0xFFFC, 8) + kEnd);
    EXPECT_TRUE(top.Sound()) << ::testing::PrintToString(Findings(top));
    EXPECT_EQ(RangesOf(top), "00000000-00000003 FFFFFFFC-FFFFFFFF ");
}

TEST(ImageCheckOverlaps, RangesMergeInAnyOrderOfRecords) {
    const ImageCheckResult result = Check(Data(0x40, 16) + Data(0x00, 16) + Data(0x20, 16) +
                                          Data(0x10, 16) + Data(0x30, 16) + Data(0x60, 16) + kEnd);
    EXPECT_TRUE(result.Sound()) << ::testing::PrintToString(Findings(result));
    EXPECT_EQ(RangesOf(result), "00000000-0000004F 00000060-0000006F ");
}

TEST(ImageCheckSkippedLines, ARecordTheDownloadWouldSkipIsNamedWhateverItsBlanks) {
    const std::string data = Data(0x10, 2);
    const std::string image = Data(0, 1) + "\t" + data + "\v " + data + "  " + data.substr(1, 12) +
                              " \t\n" + Data(1, 1).substr(1) + "\xEF\xBB\xBF" + data + kEnd;
    const ImageCheckResult result = Check(image);
    EXPECT_EQ(Findings(result),
              (Lines{
                  "2: the line begins with white space before its ':', so the download skips it",
                  "3: the line begins with white space before its ':', so the download skips it",
                  "4: the line is hex digits without the ':' of a record, so the download skips "
                  "it",
                  "5: the line is hex digits without the ':' of a record, so the download skips "
                  "it",
                  "6: the line begins with a byte-order mark, so the download skips it",
              }));
    EXPECT_EQ(result.skippedLines, 0) << "a line named is not counted as well";
}

TEST(ImageCheckSkippedLines, EveryOtherLineSkippedIsCountedOnce) {
    // A comment, blank lines, a line of blanks, words of hex digits among
    // others, a line cut by 0x1A (fewer hex digits than a record has), a
    // comment read in pieces.
    const std::string image = "; made by hand\n\n \t\n" + Data(0, 1) + "DEAD BEEF\n" + "ab\x1A" +
                              "cd\n" + std::string(25000, '#') + "\n" + kEnd + "\n";
    const ImageCheckResult result = Check(image);
    EXPECT_TRUE(result.Sound()) << ::testing::PrintToString(Findings(result));
    EXPECT_EQ(result.skippedLines, 7);
    EXPECT_EQ(Check(Data(0, 1) + kEnd).skippedLines, 0);
}

// A DSP's toolchain counts 16-bit words: every contiguous image of it
// overlaps itself when its addresses are read as bytes.
TEST(ImageCheckWordAddresses, AContiguousWordImageIsSoundAndItsRangesCountWords) {
    const std::string image =
        Data(0x0000, 16) + Data(0x0008, 16) + Linear(0x0001) + Data(0x0000, 4) + kEnd;
    EXPECT_EQ(FindingsOf(image),
              (Lines{"2: data written twice: 8 bytes in 0x00000008-0x0000000F"}));

    const ImageCheckResult words = Check(image, kKeptImageFindings, 2);
    EXPECT_TRUE(words.Sound()) << ::testing::PrintToString(Findings(words));
    EXPECT_EQ(words.dataBytes, 36);
    EXPECT_EQ(words.wordBytes, 2u);
    EXPECT_EQ(RangesOf(words), "00000000-0000000F 00010000-00010001 ");

    const ImageCheckResult longWords =
        Check(Data(0x0000, 16) + Data(0x0004, 16) + kEnd, kKeptImageFindings, 4);
    EXPECT_TRUE(longWords.Sound()) << ::testing::PrintToString(Findings(longWords));
    EXPECT_EQ(RangesOf(longWords), "00000000-00000007 ");
}

TEST(ImageCheckWordAddresses, OverlapsAreNamedInWordsAndAPartWordIsRefused) {
    const ImageCheckResult result =
        Check(Data(0x0000, 16) + Data(0x0004, 16) + Data(0x0010, 3) + kEnd, kKeptImageFindings, 2);
    EXPECT_EQ(Findings(result), (Lines{
                                    "2: data written twice: 8 bytes in 0x00000004-0x00000007",
                                    "3: 3 data bytes do not fill whole 16-bit words",
                                }));
    EXPECT_EQ(RangesOf(result), "00000000-0000000B 00000010-00000011 ");
}

TEST(ImageCheckWordAddresses, ASegmentWrapsWithinItsWordsAndLinearAddressesCountWords) {
    const ImageCheckResult segment =
        Check(Segment(0x1000) + Data(0xFFFC, 16) + kEnd, kKeptImageFindings, 2);
    EXPECT_TRUE(segment.Sound()) << ::testing::PrintToString(Findings(segment));
    EXPECT_EQ(RangesOf(segment), "00010000-00010003 0001FFFC-0001FFFF ");

    const ImageCheckResult top =
        Check(Linear(0xFFFF) + Data(0xFFFE, 8) + kEnd, kKeptImageFindings, 4);
    EXPECT_TRUE(top.Sound()) << ::testing::PrintToString(Findings(top));
    EXPECT_EQ(RangesOf(top), "FFFFFFFE-FFFFFFFF ") << "the last words of the 4 Gi";
}

TEST(ImageCheckLimits, ARecordLineOfMoreThan9998CharactersIsNamedOnceOnItsLine) {
    const std::string fits = ":" + std::string(9996, '0') + "\n";  // 9,998 with its LF
    const std::string bare = ":" + std::string(9997, '0') + "\n";  // 9,999: sent without CR
    // Read in pieces of 9,999 characters, each of which begins with ':'.
    const std::string pieces = ":" + std::string(9998, '0') + ":" + std::string(9998, '0') + ":" +
                               std::string(5000, '0') + "\n";
    const ImageCheckResult result = Check(Data(0, 1) + fits + bare + pieces + Data(1, 1) + kEnd);
    EXPECT_EQ(Findings(result),
              (Lines{
                  "2: byte count 0 does not match the 4993 data bytes",
                  "3: record line of 9999 characters: the download sends at most 9998 as one line",
                  "4: record line of 25000 characters: the download sends at most 9998 as one line",
              }));
    // Counted as the download counts: the over-long line goes out as three
    // records.
    EXPECT_EQ(result.records, 5 + 3);
}

TEST(ImageCheckLimits, APieceOfALongCommentThatBeginsWithAColonWouldBeSent) {
    const std::string comment = std::string(9999, '#') + ":00000001FF\n";
    EXPECT_EQ(FindingsOf(Data(0, 1) + comment + kEnd),
              (Lines{"2: record line of 10011 characters: the download sends at most 9998 as one "
                     "line"}));
    EXPECT_TRUE(Check(Data(0, 1) + std::string(30000, '#') + "\n" + kEnd).Sound());
}

TEST(ImageCheckLimits, TheFirstFindingsAreKeptAndAllAreCounted) {
    std::string image;
    for (int i = 0; i < 57; ++i) {
        image += ":0\n";
    }
    const ImageCheckResult result = Check(image + Data(0, 1) + kEnd);
    EXPECT_EQ(result.findingCount, 57);
    ASSERT_EQ(result.findings.size(), kKeptImageFindings);
    EXPECT_EQ(result.findings.back().line, 20);
    EXPECT_EQ(Check(image, 3).findings.size(), 3u);
}

TEST(ImageCheckFileKinds, AnHtmlPageIsNamedFirst) {
    const std::string page =
        "\xEF\xBB\xBF \r\n<!doctype HTML>\n<html><style>\n:root { color: red }\n</style>\n";
    EXPECT_EQ(FindingsOf(page),
              (Lines{
                  "0: this is an HTML page (a saved web page?), not an Intel-HEX file",
                  "4: character 'r' at column 2 is not a hex digit",
                  "0: no end-of-file record (type 01)",
                  "0: no data record: the image writes no byte",
              }));
    EXPECT_EQ(FindingsOf("\n\t<HTML lang=en>\n<body>hello</body>\n"),
              (Lines{"0: this is an HTML page (a saved web page?), not an Intel-HEX file",
                     "0: no record line (no line begins with ':')"}));
}

TEST(ImageCheckFileKinds, AnElfFileOrABinaryIsNamed) {
    const std::string elf(
        "\x7F"
        "ELF\x02\x01\x01\0\0\0\n:abc\n",
        16);
    EXPECT_EQ(FindingsOf(elf).front(),
              "0: this is an ELF file (a linked program), not an Intel-HEX file: convert it first");
    const std::string zeros("\x10\x20\0\x30\n", 5);
    EXPECT_EQ(FindingsOf(zeros), (Lines{"0: this is a binary file, not an Intel-HEX text",
                                        "0: no record line (no line begins with ':')"}));
    std::string controls;
    for (int i = 0; i < 100; ++i) {
        controls += i % 8 == 0 ? '\x02' : 'x';
    }
    EXPECT_EQ(FindingsOf(controls).front(), "0: this is a binary file, not an Intel-HEX text");
    // A text with a few odd bytes and a Ctrl-Z at its end is text.
    EXPECT_TRUE(Check(Data(0, 4) + "\x7F\n" + kEnd + "\x1A").Sound());
}

TEST(ImageCheckFileKinds, AFileThatCannotBeOpenedIsSaidSo) {
    EXPECT_FALSE(CheckImageFile(::testing::TempDir().c_str()).opened);
    EXPECT_FALSE(CheckImageFile("").opened);
    EXPECT_FALSE(CheckImageFile("").Sound());
}

}  // namespace
