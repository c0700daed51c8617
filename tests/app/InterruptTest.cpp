// Ctrl-C, SIGTERM and SIGHUP end a run in order: the port is given back, the
// record (with --report) is written, and the program then ends exactly as the
// signal would have ended it: same status, nothing more printed.

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "tests/app/report/ReportRecords.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"

namespace {

using download_test::EchoLine;
using download_test::kPrompt;
using report_test::Json;
using report_test::OnlyRecord;

constexpr int kGuardMs = 60000;
constexpr int kForever = 1000000;

// The name a record gives Ctrl-C: the Windows build gets it as a console
// event.
std::string CtrlCName() {
    return harness::RunsWindowsBuild() ? "CTRL_C" : "SIGINT";
}

// Wine ends a program on SIGTERM and SIGHUP without telling it (Windows has
// no such signals): those cases run on the native build only.
#define SKIP_SIGNAL_UNDER_WINE() \
    SKIP_UNDER_WINE("Wine ends the program on SIGTERM and SIGHUP without telling it")

struct SignalledRun {
    harness::ProcessResult result;
    std::vector<std::string> args;
};

// Starts vantoir with args, waits until ready says the moment has come (a
// guard time-out inside), sends it the signal and waits for its end.
SignalledRun SignalWhen(const std::vector<std::string>& args,
                        const std::function<bool(harness::ChildProcess&)>& ready,
                        int signalNumber) {
    harness::ProcessOptions options;
    options.args = args;
    harness::ChildProcess child(options);
    EXPECT_TRUE(ready(child)) << child.Stdout() << child.Stderr();
    child.Signal(signalNumber);
    return {child.Wait(kGuardMs), args};
}

SignalledRun SignalWhen(const std::vector<std::string>& args, const std::string& shown,
                        int signalNumber) {
    return SignalWhen(
        args, [&](harness::ChildProcess& child) { return child.WaitForStdout(shown, kGuardMs); },
        signalNumber);
}

TEST(Interrupt, PlainRunEndsByTheSignalWithNothingMorePrinted) {
    sim::BoardConfig config;
    config.silentPolls = kForever;
    auto board = harness::StartBoard(config);
    const std::string file = harness::WriteTempFile(harness::SampleHex(5));
    std::vector<int> signalNumbers = {SIGINT};
    if (!harness::RunsWindowsBuild()) {
        signalNumbers.insert(signalNumbers.end(), {SIGTERM, SIGHUP});
    }
    for (const int signalNumber : signalNumbers) {
        const std::vector<std::string> args = {"-P", harness::PortName(*board), "-F", file};
        const SignalledRun run = SignalWhen(args, kPrompt, signalNumber);
        EXPECT_EQ(run.result.termSignal, signalNumber) << harness::Describe(run.result);
        EXPECT_EQ(run.result.out, EchoLine(args) + kPrompt);
        EXPECT_EQ(run.result.err, "");
    }
}

TEST(Interrupt, CtrlCWhilePollingIsRecordedAsInterrupted) {
    sim::BoardConfig config;
    config.silentPolls = kForever;
    auto board = harness::StartBoard(config);
    const std::string report = harness::WriteTempFile("", "x") + ".jsonl";
    const std::vector<std::string> args = {
        "-P",       harness::PortName(*board),
        "-F",       harness::WriteTempFile(harness::SampleHex(5)),
        "--report", report};

    const SignalledRun run = SignalWhen(args, kPrompt, SIGINT);

    EXPECT_EQ(run.result.termSignal, SIGINT) << harness::Describe(run.result);
    EXPECT_EQ(run.result.out, EchoLine(args) + kPrompt);
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "interrupted");
    EXPECT_EQ(record["signal"], CtrlCName());
    EXPECT_TRUE(record["exit_status"].is_null());
    EXPECT_TRUE(record["error"].is_null());
    EXPECT_TRUE(record["board"].is_null());
    EXPECT_TRUE(record["sent_sha256"].is_null());
}

TEST(Interrupt, SigtermDuringTheUploadKeepsTheRecordsSentSoFar) {
    SKIP_SIGNAL_UNDER_WINE();
    sim::BoardConfig config;
    config.baudRate = 9600;  // about 50 records a second
    auto board = harness::StartBoard(config);
    const std::string report = harness::WriteTempFile("", "x") + ".jsonl";
    const std::vector<std::string> args = {
        "-P",       harness::PortName(*board),
        "-F",       harness::WriteTempFile(harness::SampleHex(2000)),
        "-B",       "9600",
        "--report", report};
    const harness::ProcessResult result =
        SignalWhen(
            args, [&](harness::ChildProcess&) { return board->WaitForRecords(20, kGuardMs); },
            SIGTERM)
            .result;

    EXPECT_EQ(result.termSignal, SIGTERM) << harness::Describe(result);
    EXPECT_EQ(result.err, "");
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "interrupted");
    EXPECT_EQ(record["signal"], "SIGTERM");
    EXPECT_GE(record["records_sent"].get<int>(), 20);
    EXPECT_LT(record["records_sent"].get<int>(), 2000);
    EXPECT_FALSE(board->Summary().countMatched);
}

TEST(Interrupt, SighupWhileTheRequestGoesUnansweredEndsTheWait) {
    SKIP_SIGNAL_UNDER_WINE();
    sim::BoardConfig config;
    config.ignoreRequests = kForever;
    auto board = harness::StartBoard(config);
    const std::string report = harness::WriteTempFile("", "x") + ".jsonl";
    const std::vector<std::string> args = {
        "-P",       harness::PortName(*board),
        "-F",       harness::WriteTempFile(harness::SampleHex(5)),
        "--report", report};

    const harness::ProcessResult result =
        SignalWhen(
            args, [&](harness::ChildProcess&) { return board->WaitForReceived("R\r\n", kGuardMs); },
            SIGHUP)
            .result;

    EXPECT_EQ(result.termSignal, SIGHUP) << harness::Describe(result);
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "interrupted");
    EXPECT_EQ(record["board"], "KELVOR DSP boot loader 2.4");
}

TEST(Interrupt, CtrlCInConsoleModeGivesTheTerminalBackAndIsRecorded) {
    sim::BoardConfig config;
    config.loaderProtocol = false;
    auto board = harness::StartBoard(config);
    const std::string report = harness::WriteTempFile("", "x") + ".jsonl";
    harness::ProcessOptions options;
    options.args = {"-P", harness::PortName(*board), "-C", "--report", report};
    options.inputKind = harness::InputKind::Terminal;
    harness::ChildProcess child(options);
    ASSERT_TRUE(child.WaitForStdout("Entering Console mode...\n", kGuardMs));
    ASSERT_TRUE(child.WaitForKeyAtATime(kGuardMs));
    child.WriteKeys("a");
    ASSERT_TRUE(board->WaitForReceived("a", kGuardMs));
    child.WriteKeys("\x03");
    const harness::ProcessResult result = child.Wait(kGuardMs);

    EXPECT_EQ(result.termSignal, SIGINT) << harness::Describe(result);
    const termios after = child.KeyboardSettings();
    EXPECT_NE(after.c_lflag & ICANON, 0u);
    EXPECT_NE(after.c_lflag & ECHO, 0u);
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["mode"], "console");
    EXPECT_EQ(record["outcome"], "ended");
    EXPECT_EQ(record["signal"], CtrlCName());
}

}  // namespace
