// How the session waits for the board: polling a silent board, showing its
// messages at every stage, draining its greeting, and sending "R" and "C"
// again after 3 s of silence.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>

#include "tests/protocol/DownloadTestSupport.h"

namespace {

using namespace download_test;

constexpr const char* kIdentity = "KELVOR DSP boot loader 2.4";

// Removes every occurrence of piece from text; returns how many there were.
int RemoveAll(std::string& text, const std::string& piece) {
    int count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at)) {
        text.erase(at, piece.size());
        ++count;
    }
    return count;
}

// Milliseconds between the first and the second occurrence of command on
// the wire, as the board saw them arrive.
long GapBetweenRepeatsMs(const sim::Board& board, const std::string& command) {
    const std::string wire = board.Received();
    const size_t first = wire.find(command);
    const size_t second = wire.find(command, first + command.size());
    if (first == std::string::npos || second == std::string::npos) {
        return -1;
    }
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 board.ReceivedAt(second) - board.ReceivedAt(first))
                                 .count());
}

class BoardPolling : public ::testing::Test {
  protected:
    void Run(const sim::BoardConfig& config, const std::vector<std::string>& extraArgs = {}) {
        board = harness::StartBoard(config);
        content = harness::SampleHex(3);
        dataFile = harness::WriteTempFile(content);
        result = Download(*board, dataFile, extraArgs);
        EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
        EXPECT_EQ(result.err, "");
    }
    std::string Head() const {
        return EchoLine({"-P", harness::PortName(*board), "-F", dataFile}) + kPrompt;
    }
    std::string Tail() const {
        return UploadProgress(content) + "File uploaded OK\nStart command sent to DSP\n";
    }

    std::unique_ptr<sim::Board> board;
    std::string content;
    std::string dataFile;
    harness::ProcessResult result;
};

TEST_F(BoardPolling, SilentBoardIsPolledAgainUntilItAnswers) {
    sim::BoardConfig config;
    config.silentPolls = 5;
    Run(config);

    EXPECT_EQ(result.out, Head() + Established(kIdentity) + "Start uploading file...\n" + Tail());
    EXPECT_GE(board->Summary().polls, 6);
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));
    ExpectSessionOnWire(board->Received(), OnWire(content), "S\r\n");
}

TEST_F(BoardPolling, MessagesWhilePollingAreShownAndPollingGoesOn) {
    sim::BoardConfig config;
    config.silentPolls = 2;
    config.pollMessages = {"-Booting"};
    Run(config);

    // Every poll the board takes is answered with the message; a poll sent
    // while an answer was still on its way is answered during the drain.
    std::string out = result.out;
    EXPECT_EQ(RemoveAll(out, "Booting\n"), board->Summary().polls);
    EXPECT_GE(board->Summary().polls, 3);
    EXPECT_EQ(out, Head() + Established(kIdentity) + "Start uploading file...\n" + Tail());
}

TEST_F(BoardPolling, ReplyCutByThePollTimeOutIsCompletedByTheNextPoll) {
    // Every line comes in three pieces, the pauses between them twice the
    // poll time-out (and well inside the greeting's drain time-out): the "+"
    // of the identity arrives in one step and the rest of its line only after
    // a later poll has gone out.
    sim::BoardConfig config;
    config.splitPauseMs = 100;
    Run(config);

    EXPECT_EQ(result.out, Head() + Established(kIdentity) + "Start uploading file...\n" + Tail());
    EXPECT_GE(board->Summary().polls, 2);
}

TEST_F(BoardPolling, LineWithABlankBeforeThePlusIsNotAnAcknowledgement) {
    sim::BoardConfig config;
    config.silentPolls = 2;
    config.pollMessages = {" +not yet"};
    Run(config);

    EXPECT_EQ(result.out, Head() + Established(kIdentity) + "Start uploading file...\n" + Tail());
    EXPECT_GE(board->Summary().polls, 3);
}

TEST_F(BoardPolling, GreetingMessagesAreShownAfterTheAcknowledgement) {
    sim::BoardConfig config;
    config.greeting = {"-Flash 512K", "noise", "-Ready"};
    Run(config);

    EXPECT_EQ(result.out, Head() + Established(kIdentity) + "Flash 512K\nReady\n" +
                              "Start uploading file...\n" + Tail());
}

TEST_F(BoardPolling, MessagesBeforeTheRequestAcknowledgementAreShown) {
    sim::BoardConfig config;
    config.requestMessages = {"-Erasing"};
    Run(config);

    EXPECT_EQ(result.out,
              Head() + Established(kIdentity) + "Erasing\nStart uploading file...\n" + Tail());
}

TEST_F(BoardPolling, MessagesSentDuringTheUploadAreShownAfterTheCountRequest) {
    board = harness::StartBoard();
    content = ":00000001FF\n:0000000001\n:00000001FF\n";
    dataFile = harness::WriteTempFile(content);
    result = Download(*board, dataFile);

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, Head() + Established(kIdentity) + "Start uploading file...\n" +
                              UploadProgress(content) + "Line 2: checksum error\n" +
                              "File uploaded OK\nStart command sent to DSP\n");
}

TEST_F(BoardPolling, DrainSwallowsASecondAcknowledgementAndRequestIsSentAgainAfterSilence) {
    sim::BoardConfig config;
    config.greeting = {"+again"};
    config.ignoreRequests = 1;
    Run(config);

    // Had the drain left "+again" waiting, it would have passed for the
    // answer to the first "R", which the board ignored.
    EXPECT_EQ(result.out, Head() + Established(kIdentity) + "Start uploading file...\n" + Tail());
    EXPECT_EQ(board->Summary().requests, 2);
    const long gapMs = GapBetweenRepeatsMs(*board, "R\r\n");
    EXPECT_GE(gapMs, 2400);
    EXPECT_LE(gapMs, 30000);
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));
    EXPECT_TRUE(board->Summary().downloadComplete);
}

TEST_F(BoardPolling, CountRequestIsSentAgainAfterSilence) {
    sim::BoardConfig config;
    config.ignoreCounts = 1;
    Run(config);

    EXPECT_EQ(result.out, Head() + Established(kIdentity) + "Start uploading file...\n" + Tail());
    EXPECT_EQ(board->Summary().countQueries, 2);
    const long gapMs = GapBetweenRepeatsMs(*board, "C\r\n");
    EXPECT_GE(gapMs, 2400);
    EXPECT_LE(gapMs, 30000);
}

}  // namespace

namespace {

TEST(DownloadOutput, PromptAndMessagesAreShownThroughAPipeWhileTheBoardIsStillSilent) {
    sim::BoardConfig config;
    config.silentPolls = 1000000;
    config.pollMessages = {"-Booting"};
    auto board = harness::StartBoard(config);
    const std::string dataFile = harness::WriteTempFile(harness::SampleHex(3));
    harness::ProcessOptions options;
    options.args = {"-P", harness::PortName(*board), "-F", dataFile};
    harness::ChildProcess vantoir(options);

    // Standard output is a pipe here, as with tee or a log file: the operator
    // must see the prompt and the board's messages while the session waits.
    // (Unflushed, they would come only once 4 KB of output had piled up, which
    // takes far longer than this wait.)
    const int kShownWithinMs = 5000;
    EXPECT_TRUE(vantoir.WaitForStdout(kPrompt + "Booting\n", kShownWithinMs)) << vantoir.Stdout();
    EXPECT_EQ(vantoir.Stdout().rfind(EchoLine(options.args) + kPrompt, 0), 0u);
    vantoir.Signal(SIGTERM);
    vantoir.Wait(kRunGuardMs);
}

TEST(DownloadOutput, FinalProgressLineShowsThroughAPipeBeforeTheCountIsAnswered) {
    sim::BoardConfig config;
    config.ignoreCounts = 1;  // the session then waits 3 s for the count
    auto board = harness::StartBoard(config);
    const std::string content = harness::SampleHex(3);
    harness::ProcessOptions options;
    options.args = {"-P", harness::PortName(*board), "-F", harness::WriteTempFile(content)};
    harness::ChildProcess vantoir(options);

    EXPECT_TRUE(vantoir.WaitForStdout(UploadProgress(content), kRunGuardMs)) << vantoir.Stdout();
    EXPECT_LE(board->Summary().countQueries, 1) << "shown only once the count was answered";
    EXPECT_EQ(vantoir.Wait(kRunGuardMs).exitStatus, 0);
}

TEST(DownloadOutput, DebugEchoesShowThroughAPipeWhileTheBoardIsStillSilent) {
    // Debugging a board that does not answer: every poll and every line the
    // board sends must show as it happens, not once 4 KB have piled up.
    sim::BoardConfig config;
    config.silentPolls = 1000000;
    config.pollMessages = {"booting"};
    auto board = harness::StartBoard(config);
    const std::string dataFile = harness::WriteTempFile(harness::SampleHex(3));
    harness::ProcessOptions options;
    options.args = {"-P", harness::PortName(*board), "-F", dataFile, "-D"};
    harness::ChildProcess vantoir(options);

    // A busy board may read a second "?" before it answers the first, so the
    // line it sends may follow more than one echo.
    const int kShownWithinMs = 5000;
    EXPECT_TRUE(vantoir.WaitForStdout("\nReceived: booting\n", kShownWithinMs)) << vantoir.Stdout();
    EXPECT_NE(vantoir.Stdout().find(kPrompt + "Sent: ?\r\n\n"), std::string::npos)
        << vantoir.Stdout();
    vantoir.Signal(SIGTERM);
    vantoir.Wait(kRunGuardMs);
}

TEST_F(BoardPolling, LateAnswersToRepeatedCommandsAreNotTakenForLaterOnes) {
    // "R" and "C" are each answered after the 3 s wait, so each goes out
    // again and the board answers twice. The second "+" of "R" would pass for
    // the count (0), the second of "C" for the flash acknowledgement, and "S"
    // would reach the board while it writes its flash.
    sim::BoardConfig config;
    config.lateRequestMs = 3500;
    config.lateCountMs = 3500;
    config.expectFlash = true;
    Run(config, {"-W"});

    EXPECT_EQ(result.out, EchoLine({"-P", harness::PortName(*board), "-F", dataFile, "-W"}) +
                              kPrompt + Established(kIdentity) + "Start uploading file...\n" +
                              UploadProgress(content) +
                              "File uploaded OK\nProgramming flash memory...\n"
                              "Programming flash: 33%\nProgramming flash: 66%\n"
                              "Programming flash: 100%\nStart command sent to DSP\n");
    EXPECT_EQ(board->Summary().requests, 2);
    EXPECT_EQ(board->Summary().countQueries, 2);
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));
    EXPECT_TRUE(board->Summary().downloadComplete);
}

}  // namespace
