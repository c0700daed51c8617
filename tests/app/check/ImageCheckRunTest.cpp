// The image check seen from outside: the real binary with --check-only and
// --check, against the simulated board. A refused image ends the run before
// the port is opened; a sound one is downloaded as without the check.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/HexRecord.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"
#include "text/Sha256.h"

namespace {

using download_test::EchoLine;
using download_test::kRunGuardMs;

// Three faults: a checksum, a record type, no end-of-file record.
const std::string kBadImage =
    ":020000040800F2\n"
    "; a comment\n"
    ":10000000000102030405060708090A0B0C0D0E0F77\n"
    ":0100100600E9\n";

const std::string kBadFindings =
    ":3: checksum 0x77 is wrong (0x78 expected)\n"
    ":4: unknown record type 06 (00 to 05 expected)\n"
    ": no end-of-file record (type 01)\n"
    ": image refused: 3 findings\n";

// The findings of kBadImage, named after file.
std::string BadFindings(const std::string& file) {
    std::string text;
    for (const std::string& line : download_test::Lines(kBadFindings)) {
        text += file + line;
    }
    return text;
}

std::string OkLine(const std::string& file, const std::string& summary) {
    return file + ": image OK: " + summary + ", SHA-256 " +
           Sha256OfFile(file.c_str()).value_or("?") + "\n";
}

TEST(CheckOnly, ASoundImageGivesItsSummaryOnStandardOutputAndStatusZero) {
    const std::string file = harness::WriteTempFile(harness::SampleHex(250));
    const std::vector<std::string> args = {"--check-only", "-F", file};

    const harness::ProcessResult result = harness::RunVantoir(args, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.out, EchoLine(args) + OkLine(file,
                                                  "250 records, 3984 data bytes at "
                                                  "0x00000000-0x00000F8F, no start address"));
    EXPECT_EQ(result.err, "");
}

TEST(CheckOnly, ARefusedImageGivesItsFindingsOnStandardErrorAndStatusOne) {
    const std::string file = harness::WriteTempFile(kBadImage);
    const std::vector<std::string> args = {"-F", file, "--CHECK-ONLY"};

    const harness::ProcessResult result = harness::RunVantoir(args, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.out, EchoLine(args));
    EXPECT_EQ(result.err, BadFindings(file));
}

TEST(CheckOnly, ShowsTwentyFindingsAndCountsTheRest) {
    std::string image;
    for (int i = 0; i < 30; ++i) {
        image += ":0\n";
    }
    const std::string file = harness::WriteTempFile(image + harness::SampleHex(2));

    const harness::ProcessResult result =
        harness::RunVantoir({"--check-only", "-F", file}, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    std::string expected;
    for (int line = 1; line <= 20; ++line) {
        expected += file + ":" + std::to_string(line) + ": odd number of hex digits (1)\n";
    }
    expected += "... and 10 more findings\n" + file + ": image refused: 30 findings\n";
    EXPECT_EQ(result.err, expected);
}

// An end-of-file record has no data; an extended address record has 0000 in
// its address field. Each is still taken for what it says, so that one
// fault gives one finding.
TEST(CheckOnly, AnEndOfFileRecordCarriesNoDataAndAnExtendedAddressRecordNoAddress) {
    const std::string file = harness::WriteTempFile(
        ":020010040000EA\n"
        ":0400000001020304F2\n"
        ":021234021000A6\n"
        ":0100000100FE\n");

    const harness::ProcessResult result =
        harness::RunVantoir({"--check-only", "-F", file}, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err,
              file +
                  ":1: extended linear address record (type 04) with address field 0010 "
                  "(0000 expected)\n" +
                  file +
                  ":3: extended segment address record (type 02) with address field 1234 "
                  "(0000 expected)\n" +
                  file + ":4: end-of-file record (type 01) with 1 data bytes (0 expected)\n" +
                  file + ": image refused: 3 findings\n");
}

// The download skips every line that does not begin with ':'. A record that
// lost its ':' or gained a blank before it would be lost without a word, so
// the check names it; the other lines skipped are counted.
TEST(CheckOnly, ARecordTheDownloadWouldSkipIsNamedAndOtherSkippedLinesAreCounted) {
    const std::string refused = harness::WriteTempFile(
        ":0400000001020304F2\n"
        " :0400040005060708DE\n"
        "04000800090A0B0CCA\n"
        ":00000001FF\n");
    const std::string sound = harness::WriteTempFile(
        "; made by hand\n"
        ":0400000001020304F2\n"
        "\n"
        ":00000001FF\n");

    const harness::ProcessResult refusal =
        harness::RunVantoir({"--check-only", "-F", refused}, kRunGuardMs);
    const harness::ProcessResult ok =
        harness::RunVantoir({"--check-only", "-F", sound}, kRunGuardMs);

    EXPECT_EQ(refusal.exitStatus, 1) << harness::Describe(refusal);
    EXPECT_EQ(refusal.err,
              refused +
                  ":2: the line begins with white space before its ':', so the download "
                  "skips it\n" +
                  refused +
                  ":3: the line is hex digits without the ':' of a record, so the download "
                  "skips it\n" +
                  refused + ": image refused: 2 findings\n");
    EXPECT_EQ(ok.exitStatus, 0) << harness::Describe(ok);
    EXPECT_EQ(ok.out, EchoLine({"--check-only", "-F", sound}) +
                          OkLine(sound,
                                 "2 records, 2 lines skipped, 4 data bytes at "
                                 "0x00000000-0x00000003, no start address"));
}

// A DSP toolchain's image whose addresses count 16-bit words: read as
// bytes, each record overlaps the one before.
TEST(CheckOnly, AnImageAddressedInWordsIsCheckedInWordsWithWordSize) {
    std::string image;
    for (uint16_t word = 0; word < 32; word += 8) {
        image += sim::FormatRecord(word, 0, std::vector<uint8_t>(16, 0x5A)) + "\n";
    }
    const std::string file = harness::WriteTempFile(image + ":00000001FF\n");
    const std::vector<std::string> words = {"--check-only", "-F", file, "--word-size", "16"};

    const harness::ProcessResult asBytes =
        harness::RunVantoir({"--check-only", "-F", file}, kRunGuardMs);
    const harness::ProcessResult asWords = harness::RunVantoir(words, kRunGuardMs);
    const harness::ProcessResult refused =
        harness::RunVantoir({"--check-only", "-F", file, "--word-size", "12"}, kRunGuardMs);

    EXPECT_EQ(asBytes.exitStatus, 1) << harness::Describe(asBytes);
    EXPECT_EQ(asBytes.err, file + ":2: data written twice: 8 bytes in 0x00000008-0x0000000F\n" +
                               file + ":3: data written twice: 8 bytes in 0x00000010-0x00000017\n" +
                               file + ":4: data written twice: 8 bytes in 0x00000018-0x0000001F\n" +
                               file + ": image refused: 3 findings\n");
    EXPECT_EQ(asWords.exitStatus, 0) << harness::Describe(asWords);
    EXPECT_EQ(asWords.out, EchoLine(words) + OkLine(file,
                                                    "5 records, 64 data bytes at "
                                                    "0x00000000-0x0000001F (16-bit word "
                                                    "addresses), no start address"));
    EXPECT_EQ(refused.exitStatus, 1) << harness::Describe(refused);
    EXPECT_EQ(refused.err, "Invalid value for switch --word-size: 12\n");
}

TEST(CheckOnly, OpensNoPortAndAMissingFileFailsAsForADownload) {
    auto board = harness::StartBoard();
    const std::string missing = harness::WriteTempFile("", "x") + ".missing";
    const std::string file = harness::WriteTempFile(harness::SampleHex(3));

    const harness::ProcessResult sound = harness::RunVantoir(
        {"-P", harness::PortName(*board), "--check-only", "-F", file, "-W"}, kRunGuardMs);
    const harness::ProcessResult noFile = harness::RunVantoir({"--check-only"}, kRunGuardMs);
    const harness::ProcessResult noSuchFile =
        harness::RunVantoir({"--check-only", "-F", missing}, kRunGuardMs);

    EXPECT_EQ(sound.exitStatus, 0) << harness::Describe(sound);
    EXPECT_EQ(board->BytesReceived(), 0);
    EXPECT_EQ(noFile.exitStatus, 1) << harness::Describe(noFile);
    EXPECT_EQ(noFile.out, "");
    EXPECT_EQ(noFile.err, "Switch --check-only needs -F <datafile>\n");
    EXPECT_EQ(noSuchFile.exitStatus, 1) << harness::Describe(noSuchFile);
    EXPECT_EQ(noSuchFile.err, "Can't open file " + missing + " for upload\n");
}

TEST(CheckOnly, ChecksTheFileWhateverTheModeAndCheckNeedsADownload) {
    const std::string file = harness::WriteTempFile(kBadImage);
    for (const char* mode : {"-C", "-R"}) {
        const harness::ProcessResult only =
            harness::RunVantoir({mode, "--check-only", "-F", file}, kRunGuardMs);
        EXPECT_EQ(only.exitStatus, 1) << harness::Describe(only);
        EXPECT_EQ(only.err, BadFindings(file));

        const harness::ProcessResult check =
            harness::RunVantoir({"--check", mode, "-F", file}, kRunGuardMs);
        EXPECT_EQ(check.exitStatus, 1) << harness::Describe(check);
        EXPECT_EQ(check.out, "");
        EXPECT_EQ(check.err,
                  "Switch --check needs download mode: it cannot be used with -C or -R\n");

        // Board after board needs records to send, too.
        for (const std::vector<std::string>& repeat :
             std::vector<std::vector<std::string>>{{"--repeat"}, {"--boards", "3"}}) {
            std::vector<std::string> args = {mode, "-F", file};
            args.insert(args.end(), repeat.begin(), repeat.end());
            const harness::ProcessResult refused = harness::RunVantoir(args, kRunGuardMs);
            EXPECT_EQ(refused.exitStatus, 1) << harness::Describe(refused);
            EXPECT_EQ(refused.out, "");
            EXPECT_EQ(refused.err, "Switch " + repeat[0] +
                                       " needs download mode: it cannot be used with -C or -R\n");
        }
    }
}

TEST(CheckBeforeDownload, ARefusedImageNeverReachesTheBoard) {
    auto board = harness::StartBoard();
    const std::string file = harness::WriteTempFile(kBadImage);
    const std::vector<std::string> args = {"-P", harness::PortName(*board), "--check", "-F", file};

    const harness::ProcessResult result = harness::RunVantoir(args, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.out, EchoLine(args));
    EXPECT_EQ(result.err, BadFindings(file));
    EXPECT_EQ(board->Received(), "");
}

TEST(CheckBeforeDownload, ARefusedImageEndsTheRunBeforeThePortIsOpened) {
    const std::string file = harness::WriteTempFile(kBadImage);

    const harness::ProcessResult result = harness::RunVantoir(
        {"-P", "/dev/vantoir-no-such-port", "--check", "-F", file}, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, BadFindings(file));
}

TEST(CheckBeforeDownload, ASoundImageIsDownloadedAsWithoutTheCheck) {
    const std::string content = harness::SampleHex(250);
    const std::string file = harness::WriteTempFile(content);
    auto plainBoard = harness::StartBoard();
    auto checkedBoard = harness::StartBoard();
    const std::vector<std::string> plainArgs = {"-P", harness::PortName(*plainBoard), "-F", file};
    const std::vector<std::string> checkedArgs = {"-P", harness::PortName(*checkedBoard), "-F",
                                                  file, "--check"};

    const harness::ProcessResult plain = harness::RunVantoir(plainArgs, kRunGuardMs);
    const harness::ProcessResult checked = harness::RunVantoir(checkedArgs, kRunGuardMs);

    ASSERT_EQ(plain.exitStatus, 0) << harness::Describe(plain);
    EXPECT_EQ(checked.exitStatus, 0) << harness::Describe(checked);
    const std::string session = plain.out.substr(EchoLine(plainArgs).size());
    EXPECT_EQ(checked.out, EchoLine(checkedArgs) +
                               OkLine(file,
                                      "250 records, 3984 data bytes at 0x00000000-0x00000F8F, "
                                      "no start address") +
                               session);
    EXPECT_EQ(checked.err, plain.err);
    ASSERT_TRUE(checkedBoard->WaitForStart(kRunGuardMs));
    download_test::ExpectSessionOnWire(checkedBoard->Received(), download_test::OnWire(content),
                                       "S\r\n");
}

}  // namespace
