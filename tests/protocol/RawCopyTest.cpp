// Raw copy: the file byte for byte to the board, the board's output shown
// unchanged, and a file that cannot be read to its end.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/Harness.h"

namespace {

constexpr int kRunGuardMs = 60000;

std::string AllByteValues(int repeats) {
    std::string bytes;
    for (int round = 0; round < repeats; ++round) {
        for (int value = 0; value < 256; ++value) {
            bytes += static_cast<char>(value);
        }
    }
    return bytes;
}

std::string EchoLine(const std::string& port, const std::string& file) {
    return "Parsed command line: -P " + port + " -R -F " + file + "\n";
}

std::unique_ptr<sim::Board> StartRawBoard(bool echo) {
    sim::BoardConfig config;
    config.loaderProtocol = false;
    config.echo = echo;
    return harness::StartBoard(config);
}

harness::ProcessResult RunRaw(const sim::Board& board, const std::string& file) {
    return harness::RunVantoir({"-P", harness::PortName(board), "-R", "-F", file}, kRunGuardMs);
}

TEST(RawCopy, AllByteValuesReachTheBoardUnchanged) {
    auto board = StartRawBoard(false);
    const std::string content = AllByteValues(3);
    const std::string file = harness::WriteTempFile(content, "all.bin");

    const harness::ProcessResult result = RunRaw(*board, file);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.out, EchoLine(harness::PortName(*board), file));
    EXPECT_EQ(result.err, "");
    ASSERT_TRUE(board->WaitForBytes(static_cast<int64_t>(content.size()), kRunGuardMs));
    EXPECT_EQ(board->Received(), content);
}

// Windows opens COM10 and above only under their device-namespace names.
TEST(RawCopy, ComPortAboveNineOpensOnWindows) {
    if (!harness::RunsWindowsBuild()) {
        GTEST_SKIP() << "COM port names belong to the Windows build";
    }
    auto board = StartRawBoard(false);
    const std::string file = harness::WriteTempFile("COM12 works", "com12.bin");

    const harness::ProcessResult result = harness::RunVantoir(
        {"-P", harness::NamedComPort(*board, "COM12"), "-R", "-F", file}, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.out, EchoLine("COM12", file));
    ASSERT_TRUE(board->WaitForBytes(11, kRunGuardMs));
    EXPECT_EQ(board->Received(), "COM12 works");
}

TEST(RawCopy, BoardOutputBetweenBlocksIsShownUnchanged) {
    auto board = StartRawBoard(true);
    // Large enough that the copy waits on the line many times, so the echo
    // of earlier blocks is waiting when later passes look.
    const std::string content = AllByteValues(1024);
    const std::string file = harness::WriteTempFile(content, "echo.bin");

    const harness::ProcessResult result = RunRaw(*board, file);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    const std::string head = EchoLine(harness::PortName(*board), file);
    ASSERT_EQ(result.out.compare(0, head.size(), head), 0);
    const std::string shown = result.out.substr(head.size());
    // What the board sent after the last echo pass is not shown.
    EXPECT_FALSE(shown.empty());
    EXPECT_EQ(shown, content.substr(0, shown.size()));
    ASSERT_TRUE(board->WaitForBytes(static_cast<int64_t>(content.size()), kRunGuardMs));
    EXPECT_EQ(board->Received(), content);
}

TEST(RawCopy, EmptyFileSendsNothingAndEndsQuietly) {
    auto board = StartRawBoard(true);
    const std::string file = harness::WriteTempFile("", "empty.bin");

    const harness::ProcessResult result = RunRaw(*board, file);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.out, EchoLine(harness::PortName(*board), file));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(board->BytesReceived(), 0);
}

TEST(RawCopy, FileThatCannotBeReadStopsTheCopyWithStatusOne) {
    SKIP_UNDER_WINE(
        "Windows does not open a directory as a file, so this way of making a read "
        "fail after the opening does not exist there");
    auto board = StartRawBoard(false);
    // A directory opens as a stream on this system, but reading it fails.
    const std::string file = harness::WriteTempFile("", "x");
    const std::string directory = file.substr(0, file.rfind('/'));

    const harness::ProcessResult result = RunRaw(*board, directory);

    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, "Error reading file " + directory + "\n");
    EXPECT_EQ(result.out, EchoLine(harness::PortName(*board), directory));
}

TEST(RawCopy, MissingFileIsReportedAfterThePortOpened) {
    auto board = StartRawBoard(false);
    const std::string file = harness::WriteTempFile("", "x") + ".missing";

    const harness::ProcessResult result = RunRaw(*board, file);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, "Can't open file " + file + " for upload\n");
    EXPECT_EQ(board->BytesReceived(), 0);
}

}  // namespace
