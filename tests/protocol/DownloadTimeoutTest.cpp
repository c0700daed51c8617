// --timeout: every wait that repeats its command without limit ("?", "R",
// "C") ends after the seconds given, with a message that names what went
// unanswered, status 1 and nothing more sent; and a board that answers in
// time is not cut short.

#include <gtest/gtest.h>

#include <string>

#include "tests/protocol/DownloadTestSupport.h"

namespace {

using namespace download_test;

// Far more unanswered commands than a run of a few seconds can send.
constexpr int kForever = 1000000;

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

harness::ProcessResult DownloadWithTimeout(sim::Board& board, const std::string& file,
                                           const std::string& seconds) {
    return Download(board, file, {"--timeout", seconds});
}

TEST(DownloadTimeout, SilentBoardEndsThePollingWithItsMessage) {
    sim::BoardConfig config;
    config.silentPolls = kForever;
    auto board = harness::StartBoard(config);
    const std::string file = harness::WriteTempFile(harness::SampleHex(5));

    const harness::ProcessResult result = DownloadWithTimeout(*board, file, "1");

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    const std::vector<std::string> args = {"-P", harness::PortName(*board), "-F", file, "--timeout",
                                           "1"};
    EXPECT_EQ(result.out,
              EchoLine(args) + kPrompt + "Error: No answer from the receiver within 1 s\n");
    EXPECT_EQ(result.err, "");
    // About 50 ms a poll for a second: many polls, and nothing after them.
    std::string wire = board->Received();
    EXPECT_GE(TakeRepeated(wire, "?\r\n"), 5);
    EXPECT_EQ(wire, "");
}

TEST(DownloadTimeout, BoardTalkingWithoutAnsweringIsHeldToTheSameLimit) {
    sim::BoardConfig config;
    config.silentPolls = kForever;
    config.pollMessages = {"-busy"};
    auto board = harness::StartBoard(config);
    const std::string file = harness::WriteTempFile(harness::SampleHex(5));

    const harness::ProcessResult result = DownloadWithTimeout(*board, file, "1");

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_NE(result.out.find("busy\n"), std::string::npos);
    EXPECT_NE(result.out.find("Error: No answer from the receiver within 1 s\n"),
              std::string::npos);
}

TEST(DownloadTimeout, UnansweredRequestEndsTheRunBeforeAnyRecord) {
    sim::BoardConfig config;
    config.ignoreRequests = kForever;
    auto board = harness::StartBoard(config);
    const std::string file = harness::WriteTempFile(harness::SampleHex(5));

    const harness::ProcessResult result = DownloadWithTimeout(*board, file, "1");

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_NE(result.out.find("Established communication: "), std::string::npos);
    EXPECT_TRUE(EndsWith(result.out, "Error: Request command was not acknowledged within 1 s\n"))
        << result.out;
    EXPECT_EQ(result.out.find("Start uploading file"), std::string::npos);
    // One "R", waited for 1 s rather than the usual 3 s, then the end.
    std::string wire = board->Received();
    EXPECT_GE(TakeRepeated(wire, "?\r\n"), 1);
    EXPECT_EQ(wire, "R\r\n");
}

TEST(DownloadTimeout, UnansweredCountEndsTheRunWithoutFlashOrStart) {
    sim::BoardConfig config;
    config.ignoreCounts = kForever;
    auto board = harness::StartBoard(config);
    const std::string content = harness::SampleHex(5);
    const std::string file = harness::WriteTempFile(content);

    const harness::ProcessResult result = Download(*board, file, {"--timeout", "1", "-W"});

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_TRUE(EndsWith(result.out, UploadProgress(content) +
                                         "Error: Count command was not acknowledged within 1 s\n"))
        << result.out;
    ExpectSessionOnWire(board->Received(), OnWire(content), "");
}

TEST(DownloadTimeout, BoundsTheFlashWriteOfABoardThatKeepsTalkingWithoutAcknowledging) {
    // A progress line every 0.5 s, never a "+": the 3 s of silence never
    // come, the bound counted from "W" ends the wait.
    sim::BoardConfig config;
    config.flashProgressLines = 100;  // 50 s of them
    config.flashIntervalMs = 500;
    config.flashNeverAck = true;
    config.flashProgressText = "-still writing";
    auto board = harness::StartBoard(config);
    const std::string content = harness::SampleHex(5);
    const std::string file = harness::WriteTempFile(content);

    const harness::ProcessResult result = Download(*board, file, {"-W", "--timeout", "2"});

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    const std::string flashing = "File uploaded OK\nProgramming flash memory...\n";
    const size_t at = result.out.find(flashing);
    ASSERT_NE(at, std::string::npos) << result.out;
    std::string rest = result.out.substr(at + flashing.size());
    EXPECT_GE(TakeRepeated(rest, "still writing\n"), 1);
    EXPECT_EQ(rest, "Error: Flash Write command was not acknowledged within 2 s\n");
    EXPECT_EQ(result.err, "");
    ExpectSessionOnWire(board->Received(), OnWire(content), "W\r\n");
}

TEST(DownloadTimeout, BoardThatAnswersInTimeCompletesAsWithoutIt) {
    sim::BoardConfig config;
    config.silentPolls = 3;
    auto board = harness::StartBoard(config);
    const std::string content = harness::SampleHex(250);
    const std::string file = harness::WriteTempFile(content);

    const harness::ProcessResult result = DownloadWithTimeout(*board, file, "5");

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_NE(result.out.find("File uploaded OK\nStart command sent to DSP\n"), std::string::npos);
    // The board may take the last command a moment after the program ended.
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));
    ExpectSessionOnWire(board->Received(), OnWire(content), "S\r\n");
}

TEST(DownloadTimeout, CountsFromTheFirstCommandOfEachPhase) {
    // An ignored "R" is waited for 3 s, the second one answered at once: in
    // time for a limit of 5 s. The "C" phase then has 5 s of its own for the
    // same (a limit for the whole run would have passed).
    sim::BoardConfig config;
    config.ignoreRequests = 1;
    config.ignoreCounts = 1;
    auto board = harness::StartBoard(config);
    const std::string content = harness::SampleHex(5);
    const std::string file = harness::WriteTempFile(content);

    const harness::ProcessResult result = DownloadWithTimeout(*board, file, "5");

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));
    std::string wire = board->Received();
    EXPECT_GE(TakeRepeated(wire, "?\r\n"), 1);
    EXPECT_EQ(TakeRepeated(wire, "R\r\n"), 2);
    ASSERT_EQ(wire.compare(0, OnWire(content).size(), OnWire(content)), 0);
    wire.erase(0, OnWire(content).size());
    EXPECT_EQ(wire, "C\r\nC\r\nS\r\n");
}

TEST(ConsoleTimeout, UnansweredHandshakeEndsConsoleModeWithStatusOne) {
    sim::BoardConfig config;
    config.silentPolls = kForever;
    auto board = harness::StartBoard(config);
    const std::vector<std::string> args = {
        "-P", harness::PortName(*board), "-C", "-fp", "--timeout", "1"};

    const harness::ProcessResult result = harness::RunVantoir(args, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.out, EchoLine(args) + "Error: No answer from the receiver within 1 s\n");
    EXPECT_EQ(result.err, "");
}

TEST(TimeoutSwitch, ValuesOutsideOneToADayAreRefusedBeforeThePortIsOpened) {
    auto board = harness::StartBoard();
    const std::string file = harness::WriteTempFile(harness::SampleHex(5));
    for (const std::string value :
         {"0", "86401", "-1", "+5", "1.5", "5s", "", " 5", "x", "99999999999999999999"}) {
        const harness::ProcessResult result = harness::RunVantoir(
            {"-P", harness::PortName(*board), "-F", file, "--timeout", value}, kRunGuardMs);
        EXPECT_EQ(result.exitStatus, 1) << value;
        EXPECT_EQ(result.out, "") << value;
        EXPECT_EQ(result.err, "Invalid value for switch --timeout: " + value + "\n") << value;
    }
    const harness::ProcessResult missing =
        harness::RunVantoir({"-P", harness::PortName(*board), "--timeout"}, kRunGuardMs);
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_EQ(missing.err, "Missing argument to switch --timeout\n");
    EXPECT_EQ(board->BytesReceived(), 0);
}

}  // namespace
