// A download session from start to end, the real program against the
// simulated board: what the operator sees and what reaches the board.

#include <gtest/gtest.h>

#include <string>

#include "tests/protocol/DownloadTestSupport.h"

namespace {

using namespace download_test;

constexpr const char* kIdentity = "KELVOR DSP boot loader 2.4";

std::string SessionStart(const sim::Board& board, const std::string& dataFile,
                         const std::vector<std::string>& extraArgs = {}) {
    std::vector<std::string> args = {"-P", board.SlavePath(), "-F", dataFile};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    return EchoLine(args) + kPrompt + Established(kIdentity) + "Start uploading file...\n";
}

TEST(CompleteDownload, TwoHundredFiftyRecordsGiveExactOutputAndWire) {
    auto board = harness::StartBoard();
    const std::string content = harness::SampleHex(250);
    const std::string dataFile = harness::WriteTempFile(content);

    const harness::ProcessResult result = Download(*board, dataFile);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, SessionStart(*board, dataFile) + UploadProgress(content) +
                              "File uploaded OK\nStart command sent to DSP\n");
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));
    ExpectSessionOnWire(board->Received(), OnWire(content), "S\r\n");
    EXPECT_TRUE(board->Summary().downloadComplete);
}

TEST(CompleteDownload, WithoutStartSwitchTheSessionEndsAfterTheCount) {
    auto board = harness::StartBoard();
    const std::string content = harness::SampleHex(3);
    const std::string dataFile = harness::WriteTempFile(content);

    const harness::ProcessResult result = Download(*board, dataFile, {"-L"});

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.out, SessionStart(*board, dataFile, {"-L"}) + UploadProgress(content) +
                              "File uploaded OK\n");
    ExpectSessionOnWire(board->Received(), OnWire(content), "");
}

TEST(FlashWrite, BoardProgressLinesAreShownUntilItsAcknowledgement) {
    sim::BoardConfig config;
    config.flashProgressLines = 3;
    config.flashIntervalMs = 100;
    auto board = harness::StartBoard(config);
    const std::string content = harness::SampleHex(3);
    const std::string dataFile = harness::WriteTempFile(content);

    const harness::ProcessResult result = Download(*board, dataFile, {"-W"});

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.out, SessionStart(*board, dataFile, {"-W"}) + UploadProgress(content) +
                              "File uploaded OK\nProgramming flash memory...\n"
                              "Programming flash: 33%\nProgramming flash: 66%\n"
                              "Programming flash: 100%\nStart command sent to DSP\n");
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));
    ExpectSessionOnWire(board->Received(), OnWire(content), "W\r\nS\r\n");
}

TEST(FlashWrite, SilenceAfterTheCommandEndsTheSessionWithoutStart) {
    sim::BoardConfig config;
    config.flashProgressLines = 1;
    config.flashIntervalMs = 50;
    config.flashNeverAck = true;
    auto board = harness::StartBoard(config);
    const std::string content = harness::SampleHex(3);
    const std::string dataFile = harness::WriteTempFile(content);

    const harness::ProcessResult result = Download(*board, dataFile, {"-W"});

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.out, SessionStart(*board, dataFile, {"-W"}) + UploadProgress(content) +
                              "File uploaded OK\nProgramming flash memory...\n"
                              "Programming flash: 100%\n"
                              "Error: Flash Write command was not acknowledged\n");
    ExpectSessionOnWire(board->Received(), OnWire(content), "W\r\n");
}

TEST(DebugEcho, EveryCommandSentAndLineReceivedIsEchoed) {
    sim::BoardConfig config;
    config.greeting = {"-Ready"};
    auto board = harness::StartBoard(config);
    const std::string content = ":00000001FF\n";
    const std::string dataFile = harness::WriteTempFile(content);

    const harness::ProcessResult result = Download(*board, dataFile, {"-D"});

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    const std::string poll = "Sent: ?\r\n\nReceived: +" + std::string(kIdentity) + "\n" +
                             Established(kIdentity) + "Received: -Ready\nReady\n";
    const std::string request = "Sent: R\r\n\nReceived: +\nStart uploading file...\n";
    const std::string upload = "Sent: :00000001FF\r\n\n" + Progress(0, 100) + Progress(1, 100) +
                               "\nSent: C\r\n\nReceived: +1\nFile uploaded OK\n"
                               "Sent: S\r\n\nStart command sent to DSP\n";
    const std::string expected = poll + request + upload;
    // Under load a reply can miss the 50 ms poll: each extra poll is echoed
    // (and answered, the answer then shown by the drain) before the rest.
    const std::string out = result.out;
    const size_t start =
        EchoLine({"-P", board->SlavePath(), "-F", dataFile, "-D"}).size() + kPrompt.size();
    ASSERT_GE(out.size(), start);
    if (board->Summary().polls == 1) {
        EXPECT_EQ(out.substr(start), expected);
    } else {
        EXPECT_NE(out.find(request + upload), std::string::npos) << out;
    }
}

}  // namespace
