// --image-sha256: only the released image reaches a board. Data of another
// digest is refused before the port is opened, and a file saved over the
// image between two boards of --repeat ends the run before the next board
// gets anything. The real program against the simulated board.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/app/operator/OperatorTestSupport.h"
#include "text/Sha256.h"

namespace {

using namespace operator_test;
using report_test::OnlyRecord;
using report_test::ReadRecords;

std::string UpperCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
    }
    return text;
}

class ImageSha256 : public ::testing::Test {
  protected:
    std::vector<std::string> Args(sim::Board& board, const std::string& expected,
                                  std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {
            "-P",  harness::PortName(board), "-F", dataFile, "--image-sha256", expected, "--report",
            report};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    std::string content = harness::SampleHex(6);
    std::string dataFile = harness::WriteTempFile(content);
    std::string digest = Sha256Hex(content.data(), content.size());
    std::string report = harness::WriteTempFile("", "r") + ".jsonl";
};

// Either case; nothing more is said than without the switch.
TEST_F(ImageSha256, TheReleasedImageIsSentAsWithoutTheSwitch) {
    auto plain = harness::StartBoard();
    const harness::ProcessResult without =
        harness::RunVantoir({"-P", harness::PortName(*plain), "-F", dataFile}, kGuardMs);
    auto board = harness::StartBoard();
    const std::vector<std::string> args = Args(*board, UpperCase(digest));
    const harness::ProcessResult result = harness::RunVantoir(args, kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err, "");
    const std::string echo = download_test::EchoLine(args);
    EXPECT_EQ(
        result.out.substr(echo.size()),
        without.out.substr(
            download_test::EchoLine({"-P", harness::PortName(*plain), "-F", dataFile}).size()));
    ASSERT_TRUE(board->WaitForStart(kGuardMs));
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "complete");
    EXPECT_EQ(record["file_sha256"], digest);
}

TEST_F(ImageSha256, OtherDataIsRefusedBeforeThePortIsOpenedAlsoForEachPortOfAGang) {
    const std::string expected(64, 'a');
    const std::string finding =
        dataFile + ": SHA-256 is " + digest + ", not the expected " + expected;
    auto board = harness::StartBoard();
    const harness::ProcessResult result = harness::RunVantoir(Args(*board, expected), kGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, finding + "\n" + dataFile + ": image refused: 1 finding\n");
    EXPECT_EQ(board->Received(), "");
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "image-refused");
    EXPECT_EQ(record["exit_status"], 1);
    EXPECT_EQ(record["findings"], Json::array({finding}));
    EXPECT_EQ(record["error"], dataFile + ": image refused: 1 finding");

    auto other = harness::StartBoard();
    const std::string gangReport = harness::WriteTempFile("", "g") + ".jsonl";
    const harness::ProcessResult gang =
        harness::RunVantoir({"--gang", harness::PortName(*board) + "," + harness::PortName(*other),
                             "-F", dataFile, "--image-sha256", expected, "--report", gangReport},
                            kGuardMs);
    EXPECT_EQ(gang.exitStatus, 1) << harness::Describe(gang);
    EXPECT_EQ(board->Received() + other->Received(), "");
    const std::vector<Json> records = ReadRecords(gangReport);
    ASSERT_EQ(records.size(), 2u);
    for (const Json& port : records) {
        EXPECT_EQ(port["outcome"], "image-refused");
        EXPECT_EQ(port["findings"], Json::array({finding}));
    }
}

// As an editor saves it: a new file put in the old one's place, after the
// first board.
TEST_F(ImageSha256, AFileSavedOverBetweenTwoBoardsEndsTheRunBeforeTheNextBoard) {
    auto board = harness::StartBoard();
    harness::ProcessOptions options;
    options.args = Args(*board, digest, {"--repeat"});
    harness::ChildProcess child(options);
    ASSERT_TRUE(child.WaitForStdout(TakeAwayLine(1), kGuardMs)) << child.Stdout();
    ASSERT_TRUE(board->WaitForStart(kGuardMs));
    const std::string changed = harness::SampleHex(7);
    std::ofstream(dataFile + ".new", std::ios::binary) << changed;
    ASSERT_EQ(std::rename((dataFile + ".new").c_str(), dataFile.c_str()), 0);
    const size_t before = board->Received().size();
    board->SetPowered(false);
    const harness::ProcessResult result = child.Wait(kGuardMs);

    const std::string finding = dataFile + ": SHA-256 is " +
                                Sha256Hex(changed.data(), changed.size()) + ", not the expected " +
                                digest;
    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, finding + "\n");
    std::string after = board->Received().substr(before);
    download_test::TakeRepeated(after, "?\r\n");
    EXPECT_EQ(after, "") << "nothing but polls after the first board";
    const std::vector<Json> records = ReadRecords(report);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["outcome"], "complete");
    EXPECT_EQ(records[1]["outcome"], "image-changed");
    EXPECT_EQ(records[1]["findings"], Json::array({finding}));
    EXPECT_EQ(records[1]["error"], finding);
    EXPECT_EQ(records[1]["records_sent"], 0);
}

TEST(ImageSha256Refused, AValueThatIsNoDigestOrAModeWithoutImage) {
    const std::string digest(64, 'b');
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--image-sha256", std::string(63, 'b')},
         "Invalid value for switch --image-sha256: " + std::string(63, 'b') + "\n"},
        {{"--image-sha256", std::string(63, 'b') + "g"},
         "Invalid value for switch --image-sha256: " + std::string(63, 'b') + "g\n"},
        {{"-R", "--image-sha256", digest},
         "Switch --image-sha256 needs download mode: it cannot be used with -C or -R\n"},
    };
    for (const auto& [line, err] : cases) {
        std::vector<std::string> args = {"-F", "x.hex"};
        args.insert(args.end(), line.begin(), line.end());
        const harness::ProcessResult result = harness::RunVantoir(args, kGuardMs);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, err);
    }
}

}  // namespace
