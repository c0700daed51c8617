// The order of a run and its exit statuses, the real program against the
// simulated board: the port is opened before the data file, and every port
// error ends the run through the one handler with status 1.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/Harness.h"

namespace {

constexpr int kRunGuardMs = 60000;

TEST(ProgramFlow, WrongPortIsReportedBeforeAMissingDataFile) {
    const std::string file = harness::WriteTempFile("", "x") + ".missing";

    const harness::ProcessResult result =
        harness::RunVantoir({"-P", "/dev/vantoir-no-such-port", "-F", file}, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.out, "Parsed command line: -P /dev/vantoir-no-such-port -F " + file + "\n");
    EXPECT_EQ(result.err, "Error occurred: COMPort: failed to open.\n" +
                              harness::OpenFailureLine("/dev/vantoir-no-such-port", result.err));
}

TEST(ProgramFlow, AnOpenFailureSaysWhichDeviceAndWhy) {
    SKIP_UNDER_WINE("the system's words differ; the line's form is checked above");
    // COM3 is the third serial device on this system; a name without a
    // path is looked for under /dev.
    const harness::ProcessResult missing =
        harness::RunVantoir({"-P", "vantoir-no-such-port", "-F", "x.hex"}, kRunGuardMs);
    EXPECT_EQ(missing.err,
              "Error occurred: COMPort: failed to open.\n"
              "/dev/vantoir-no-such-port: No such file or directory\n");

    // The same device held by another program (an flock, as this program
    // takes one itself): busy.
    auto board = harness::StartBoard();
    const std::string port = harness::PortName(*board);
    const int holder = open(port.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    const harness::ProcessResult busy = harness::RunVantoir({"-P", port, "-C"}, kRunGuardMs);
    close(holder);
    EXPECT_EQ(busy.exitStatus, 1);
    EXPECT_EQ(busy.err,
              "Error occurred: COMPort: failed to open.\n" + port + ": in use by another program\n");
}

TEST(ProgramFlow, MissingDataFileIsReportedOnceThePortIsOpen) {
    auto board = harness::StartBoard();
    const std::string file = harness::WriteTempFile("", "x") + ".missing";

    const harness::ProcessResult result =
        harness::RunVantoir({"-P", harness::PortName(*board), "-F", file}, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.out,
              "Parsed command line: -P " + harness::PortName(*board) + " -F " + file + "\n");
    EXPECT_EQ(result.err, "Can't open file " + file + " for upload\n");
    EXPECT_EQ(board->BytesReceived(), 0);
}

TEST(ProgramFlow, WithoutDataFileTheEmptyNameIsReported) {
    auto board = harness::StartBoard();

    const harness::ProcessResult result =
        harness::RunVantoir({"-P", harness::PortName(*board)}, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, "Can't open file  for upload\n");
}

namespace {

termios SettingsOf(const std::string& path) {
    termios settings{};
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(tcgetattr(fd, &settings), 0);
    close(fd);
    return settings;
}

// The four flag words and both speeds, as stty would compare them. Under
// Wine the serial driver itself adds IGNBRK, CLOCAL and NOFLSH when a port is
// set up, which no device control block can take back: there the handshake,
// the framing and the speeds are compared, all that the Windows port can put
// back.
void ExpectSameLine(const termios& found, const termios& after, const std::string& label) {
    if (harness::RunsWindowsBuild()) {
        constexpr tcflag_t kCarried = CRTSCTS | CSIZE | PARENB | PARODD | CSTOPB;
        EXPECT_EQ(after.c_cflag & kCarried, found.c_cflag & kCarried) << label;
    } else {
        EXPECT_EQ(after.c_iflag, found.c_iflag) << label;
        EXPECT_EQ(after.c_oflag, found.c_oflag) << label;
        EXPECT_EQ(after.c_cflag, found.c_cflag) << label;
        EXPECT_EQ(after.c_lflag, found.c_lflag) << label;
    }
    EXPECT_EQ(cfgetispeed(&after), cfgetispeed(&found)) << label;
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&found)) << label;
}

}  // namespace

// Opening turns the RTS/CTS handshake on and makes the line raw; a run that
// ends before any mode has set the line up must leave neither behind, so that
// the next program on the port is not held by the handshake.
TEST(ProgramFlow, EveryEndBeforeTheLineIsSetUpLeavesThePortAsItWasFound) {
    const std::string missing = harness::WriteTempFile("", "x") + ".missing";
    const std::string directory = ::testing::TempDir();
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"-F", missing}, "Can't open file " + missing + " for upload\n"},
        {{}, "Can't open file  for upload\n"},
        {{"-F", directory}, "Can't open file " + directory + " for upload\n"},
    };
    for (const Case& c : cases) {
        auto board = harness::StartBoard();
        const termios found = SettingsOf(board->SlavePath());
        std::vector<std::string> args = {"-P", harness::PortName(*board)};
        args.insert(args.end(), c.args.begin(), c.args.end());

        const harness::ProcessResult result = harness::RunVantoir(args, kRunGuardMs);

        EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
        EXPECT_EQ(result.err, c.err);
        ExpectSameLine(found, SettingsOf(board->SlavePath()), c.err);
        EXPECT_EQ(board->BytesReceived(), 0);
    }
}

// A refused rate is named as it was given, also a negative one (which goes to
// the port as its 32-bit pattern).
TEST(ProgramFlow, RefusedRateIsNamedAndThePortIsLeftAsItWasFound) {
    SKIP_UNDER_WINE("Wine accepts any rate on a pseudo-terminal, 0 and negative ones included");
    for (const char* rate : {"0", "-5"}) {
        auto board = harness::StartBoard();
        const std::string file = harness::WriteTempFile(harness::SampleHex(3));
        const termios found = SettingsOf(board->SlavePath());

        const harness::ProcessResult result = harness::RunVantoir(
            {"-P", harness::PortName(*board), "-B", rate, "-F", file}, kRunGuardMs);

        EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
        const std::string failure =
            "Error occurred: COMPort: could not modify serial port state.\n";
        EXPECT_EQ(result.err, failure + "The port refused " + rate +
                                  " baud: the rate must be 1 to 2147483647 baud.\n");
        // Opening turned the handshake on and made the line raw; the next
        // program must find neither.
        const termios settings = SettingsOf(board->SlavePath());
        EXPECT_EQ(settings.c_cflag & CRTSCTS, 0u) << rate;
        ExpectSameLine(found, settings, rate);
        EXPECT_EQ(board->BytesReceived(), 0) << rate;
    }
}

TEST(ProgramFlow, PortThatVanishesDuringTheUploadEndsTheRunWithStatusOne) {
    sim::BoardConfig config;
    config.hangUpAfterRecords = 100;
    auto board = harness::StartBoard(config);
    const std::string file = harness::WriteTempFile(harness::SampleHex(2000));

    const harness::ProcessResult result =
        harness::RunVantoir({"-P", harness::PortName(*board), "-F", file}, kRunGuardMs);

    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, "Error occurred: COMPort: write failed.\n");
    EXPECT_NE(result.out.find("Start uploading file...\n"), std::string::npos);
    EXPECT_EQ(result.out.find("File uploaded OK"), std::string::npos);
    // The open progress line is ended, so that in a log of both streams the
    // error starts a line of its own.
    ASSERT_FALSE(result.out.empty());
    EXPECT_EQ(result.out.back(), '\n') << result.out;
}

TEST(ProgramFlow, ErrorMessageComesAfterEverythingPrintedBeforeItInACombinedLog) {
    // Standard output and standard error into one file, as in
    // "vantoir -D ... > log 2>&1": the debug echoes of the records sent
    // before the line broke must stand before the error, not after it.
    sim::BoardConfig config;
    config.hangUpAfterRecords = 50;
    auto board = harness::StartBoard(config);
    const std::string file = harness::WriteTempFile(harness::SampleHex(2000));
    harness::ProcessOptions options;
    options.binary = "/bin/sh";
    options.args = {"-c", "exec \"$@\" 2>&1", "sh"};
    for (const std::string& word : harness::LaunchCommand(
             harness::VantoirBinary(), {"-P", harness::PortName(*board), "-F", file, "-D"})) {
        options.args.push_back(word);
    }

    const harness::ProcessResult result = harness::Run(options, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_NE(result.out.find("Sent: :"), std::string::npos);
    const std::string error = "Error occurred: COMPort: write failed.\n";
    ASSERT_GE(result.out.size(), error.size());
    EXPECT_EQ(result.out.substr(result.out.size() - error.size()), error);
}

}  // namespace
