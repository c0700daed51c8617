// The order of a run and its exit statuses, the real program against the
// simulated board: the port is opened before the data file, and every port
// error ends the run through the one handler with status 1.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/Harness.h"

namespace {

constexpr int kRunGuardMs = 60000;

TEST(ProgramFlow, WrongPortIsReportedBeforeAMissingDataFile) {
    const std::string file = harness::WriteTempFile("", "x") + ".missing";

    const harness::ProcessResult result =
        harness::RunVantoir({"-P", "/dev/vantoir-no-such-port", "-F", file}, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.out, "Parsed command line: -P /dev/vantoir-no-such-port -F " + file + "\n");
    EXPECT_EQ(result.err, "Error occurred: COMPort: failed to open.\n");
}

TEST(ProgramFlow, MissingDataFileIsReportedOnceThePortIsOpen) {
    auto board = harness::StartBoard();
    const std::string file = harness::WriteTempFile("", "x") + ".missing";

    const harness::ProcessResult result =
        harness::RunVantoir({"-P", board->SlavePath(), "-F", file}, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.out, "Parsed command line: -P " + board->SlavePath() + " -F " + file + "\n");
    EXPECT_EQ(result.err, "Can't open file " + file + " for upload\n");
    EXPECT_EQ(board->BytesReceived(), 0);
}

TEST(ProgramFlow, WithoutDataFileTheEmptyNameIsReported) {
    auto board = harness::StartBoard();

    const harness::ProcessResult result =
        harness::RunVantoir({"-P", board->SlavePath()}, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, "Can't open file  for upload\n");
}

TEST(ProgramFlow, PortThatVanishesDuringTheUploadEndsTheRunWithStatusOne) {
    sim::BoardConfig config;
    config.hangUpAfterRecords = 100;
    auto board = harness::StartBoard(config);
    const std::string file = harness::WriteTempFile(harness::SampleHex(2000));

    const harness::ProcessResult result =
        harness::RunVantoir({"-P", board->SlavePath(), "-F", file}, kRunGuardMs);

    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, "Error occurred: COMPort: write failed.\n");
    EXPECT_NE(result.out.find("Start uploading file...\n"), std::string::npos);
    EXPECT_EQ(result.out.find("File uploaded OK"), std::string::npos);
}

}  // namespace
