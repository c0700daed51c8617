// A board started without a person: --reset, --reset-end, --power-command
// and --start-when, the real program against the simulated board. The
// pseudo-terminal has no modem lines, so here the lines are only refused;
// the lines themselves are seen by a board behind a USB CDC-ACM driver in
// the guest suite (tests/hardware/).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/ReportRecords.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"

namespace {

using namespace download_test;
using report_test::Json;
using report_test::OnlyRecord;
using report_test::ReadRecords;

constexpr const char* kIdentity = "KELVOR DSP boot loader 2.4";
const std::string kByCommand =
    "Starting the board by the power command instead of a power cycle.\n";
const std::string kCannotSetLines =
    "Error occurred: COMPort: failed to set DTR/RTS.\n"
    "The port cannot set DTR/RTS: it has no modem lines, or its driver refuses to set them.\n";

struct Refusal {
    std::vector<std::string> args;
    std::string err;
};

TEST(FixtureSwitches, MalformedOrMisplacedSwitchesAreRefusedBeforeThePortIsOpened) {
    const std::string notAStep =
        " is neither a wait (1ms to 60000ms) nor a setting of DTR or RTS (dtr=1, rts=0, "
        "dtr=0+rts=1).\n";
    const Refusal cases[] = {
        {{"--reset", "dtr=1,"},
         "Invalid value for switch --reset: dtr=1,\nThe sequence has an empty step.\n"},
        {{"--reset", "dtr=0+dtr=1"},
         "Invalid value for switch --reset: dtr=0+dtr=1\nThe step dtr=0+dtr=1 names DTR twice.\n"},
        {{"--reset-end", "Dtr=0"},
         "Invalid value for switch --reset-end: Dtr=0\nThe step Dtr=0" + notAStep},
        {{"--reset", "70000ms"},
         "Invalid value for switch --reset: 70000ms\nThe wait 70000ms is not 1ms to 60000ms.\n"},
        {{"--repeat", "--start-when", "dtr=1"},
         "Invalid value for switch --start-when: dtr=1\nA start signal is an input line and a "
         "level: dsr, dcd, ri or cts, =0 or =1 (dsr=1).\n"},
        {{"-C", "--reset", "dtr=0"}, "Switch --reset downloads only: it cannot be used with -C\n"},
        {{"--power-command", "true", "-R"},
         "Switch --power-command downloads only: it cannot be used with -R\n"},
        {{"--start-when", "dsr=1"},
         "Switch --start-when waits for board after board: it needs --repeat\n"},
    };
    for (const Refusal& refusal : cases) {
        // A port that does not exist: refused before it is opened.
        std::vector<std::string> args = {"-P", "/nonexistent/port", "-F", "x.hex"};
        args.insert(args.end(), refusal.args.begin(), refusal.args.end());
        const harness::ProcessResult result = harness::RunVantoir(args, kRunGuardMs);
        EXPECT_EQ(result.exitStatus, 1) << refusal.args[1];
        EXPECT_EQ(result.out, "") << refusal.args[1];
        EXPECT_EQ(result.err, refusal.err);
    }
}

// The switches that need the port's lines, on a port that has none.
TEST(FixtureLines, PortWithoutModemLinesIsRefusedBeforeAnythingIsSent) {
    const std::vector<std::vector<std::string>> uses = {
        {"--reset", "dtr=0,10ms,dtr=1"},
        {"--reset-end", "dtr=0"},
        {"--repeat", "--start-when", "dsr=1"},
    };
    for (const std::vector<std::string>& use : uses) {
        auto board = harness::StartBoard();
        const std::string report = harness::WriteTempFile("", "r") + ".jsonl";
        std::vector<std::string> args = {"--report", report};
        args.insert(args.end(), use.begin(), use.end());
        const harness::ProcessResult result =
            Download(*board, harness::WriteTempFile(harness::SampleHex(3)), args);
        EXPECT_EQ(result.exitStatus, 1) << use[0];
        EXPECT_EQ(result.err, kCannotSetLines) << use[0];
        EXPECT_EQ(result.out.find(kPrompt), std::string::npos);
        EXPECT_EQ(board->Received(), "") << use[0];
        const Json record = OnlyRecord(report);
        EXPECT_EQ(record["outcome"], "port-error");
        EXPECT_EQ(record["error"], kCannotSetLines.substr(0, kCannotSetLines.size() - 1));
        ASSERT_TRUE(record.contains("before_polling"));
    }
}

// A power command that tells the test (through a FIFO it blocks on until the
// test reads) what it got, then returns; the test switches the board on.
class PowerCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        fifo = harness::WriteTempFile("", "f") + ".fifo";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        report = harness::WriteTempFile("", "r") + ".jsonl";
        board = harness::StartBoard();
        board->SetPowered(false);
    }

    // The command's words for one board, once it has written them; then the
    // board is switched on.
    // Empty when no command wrote within the guard time.
    std::string TakeCommandAndPowerOn() {
        // Opened without waiting for a writer, so that a run that never
        // starts the command cannot hang the test.
        const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        std::string words;
        while (fd >= 0 && words.find('\n') == std::string::npos) {
            pollfd ready{fd, POLLIN, 0};
            if (poll(&ready, 1, kRunGuardMs) <= 0) {
                break;
            }
            char bytes[256];
            const ssize_t count = read(fd, bytes, sizeof bytes);
            if (count > 0) {
                words.append(bytes, static_cast<size_t>(count));
            } else if (count == 0 || errno != EAGAIN) {
                break;
            }
        }
        if (fd >= 0) {
            close(fd);
        }
        board->SetPowered(true);
        return words.substr(0, words.find('\n'));
    }

    std::string Command() const {
        return "echo \"$VANTOIR_BOARD $VANTOIR_PORT $VANTOIR_DEVICE\" > '" + fifo + "'";
    }

    std::string fifo;
    std::string report;
    std::unique_ptr<sim::Board> board;
};

TEST_F(PowerCommand, SwitchesTheBoardOnInPlaceOfThePromptWithThePortInItsEnvironment) {
    SKIP_UNDER_WINE("the command is a POSIX shell's");
    const std::string content = harness::SampleHex(3);
    const std::string dataFile = harness::WriteTempFile(content);
    std::string words;
    std::thread fixture([&] { words = TakeCommandAndPowerOn(); });
    const std::vector<std::string> args = {
        "-P",   harness::PortName(*board), "-F",     dataFile, "--report",
        report, "--power-command",         Command()};
    const harness::ProcessResult result = harness::RunVantoir(args, kRunGuardMs);
    fixture.join();

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(words, "1 " + harness::PortName(*board) + " " + harness::PortName(*board));
    EXPECT_EQ(result.out, EchoLine(args) + kByCommand + Established(kIdentity) +
                              "Start uploading file...\n" + UploadProgress(content) +
                              "File uploaded OK\nStart command sent to DSP\n");
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));
    ExpectSessionOnWire(board->Received(), OnWire(content), "S\r\n");
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "complete");
    EXPECT_EQ(record["before_polling"],
              Json::parse(R"({"start_signal": null, "power_command": {"command": )" +
                          Json(Command()).dump() +
                          R"(, "ended": "exited", "status": 0}, "reset": null})"));
}

TEST_F(PowerCommand, RunsBeforeEveryBoardWithTheBoardsNumber) {
    SKIP_UNDER_WINE("the command is a POSIX shell's");
    const std::string dataFile = harness::WriteTempFile(harness::SampleHex(3));
    harness::ProcessOptions options;
    options.args = {
        "-P", harness::PortName(*board), "-F",     dataFile, "--report", report, "--boards",
        "2",  "--power-command",         Command()};
    harness::ChildProcess child(options);
    EXPECT_EQ(TakeCommandAndPowerOn().substr(0, 2), "1 ");
    ASSERT_TRUE(child.WaitForStdout("Board 1: complete.", kRunGuardMs)) << child.Stdout();
    // Taken away: the line goes quiet, and the command starts the next one.
    board->SetPowered(false);
    EXPECT_EQ(TakeCommandAndPowerOn().substr(0, 2), "2 ");
    const harness::ProcessResult result = child.Wait(kRunGuardMs);
    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    size_t instead = 0;
    for (size_t at = result.out.find(kByCommand); at != std::string::npos;
         at = result.out.find(kByCommand, at + 1)) {
        ++instead;
    }
    EXPECT_EQ(instead, 2u);
    EXPECT_EQ(result.out.find(kPrompt), std::string::npos);
    const std::vector<Json> records = ReadRecords(report);
    ASSERT_EQ(records.size(), 2u);
    for (const Json& record : records) {
        EXPECT_EQ(record["before_polling"]["power_command"]["status"], 0);
    }
}

TEST(PowerCommandFailure, StatusOtherThanZeroEndsTheRunBeforePolling) {
    auto board = harness::StartBoard();
    const std::string report = harness::WriteTempFile("", "r") + ".jsonl";
    const harness::ProcessResult result =
        Download(*board, harness::WriteTempFile(harness::SampleHex(3)),
                 {"--report", report, "--power-command", "exit 3"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err, "Power command failed: exit status 3\n");
    EXPECT_EQ(board->Received(), "");
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "power-command-failed");
    EXPECT_EQ(record["error"], "Power command failed: exit status 3");
    EXPECT_EQ(record["exit_status"], 1);
    EXPECT_EQ(record["before_polling"]["power_command"]["status"], 3);
}

bool ProcessGone(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string self;
    std::string name;
    std::string state;
    return !(stat >> self >> name >> state) || state == "Z" || state == "X";
}

TEST(PowerCommandFailure, CommandStillRunningAtTheTimeoutIsEndedWithAllItStarted) {
    SKIP_UNDER_WINE("the command is a POSIX shell's");
    auto board = harness::StartBoard();
    const std::string pidFile = harness::WriteTempFile("", "p") + ".pid";
    const harness::ProcessResult result = Download(
        *board, harness::WriteTempFile(harness::SampleHex(3)),
        {"--timeout", "1", "--power-command", "sleep 600 & echo $! > '" + pidFile + "'; wait"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err,
              "Power command failed: still running after 1 s, ended with all it started\n");
    EXPECT_EQ(board->Received(), "");
    std::ifstream in(pidFile);
    std::string pid;
    ASSERT_TRUE(std::getline(in, pid));
    // SIGKILL has been sent to the whole group; wait (guarded) for it to land.
    for (int look = 0; look < 1000 && !ProcessGone(pid); ++look) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(ProcessGone(pid)) << pid;
}

}  // namespace
