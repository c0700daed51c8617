// --report: one JSON line per run, appended, for every way a run ends; each
// record read back with the same JSON library and checked against the run.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "errors/Version.h"
#include "tests/app/report/ReportRecords.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"
#include "text/Sha256.h"

namespace {

using report_test::Json;
using report_test::OnlyRecord;
using report_test::ReadRecords;

constexpr int kRunGuardMs = 60000;
constexpr int kForever = 1000000;

std::string NewReportPath() {
    return harness::WriteTempFile("", "report.jsonl");
}

// A fresh report path that does not exist yet.
std::string MissingReportPath() {
    return harness::WriteTempFile("", "x") + ".jsonl";
}

struct ReportedRun {
    harness::ProcessResult result;
    Json record;
};

ReportedRun Download(sim::Board& board, const std::string& file,
                     std::vector<std::string> extra = {}) {
    const std::string report = MissingReportPath();
    std::vector<std::string> args = {"-P",  harness::PortName(board), "-F", file, "--report",
                                     report};
    args.insert(args.end(), extra.begin(), extra.end());
    ReportedRun run;
    run.result = harness::RunVantoir(args, kRunGuardMs);
    run.record = OnlyRecord(report);
    return run;
}

// 2026-12-09T03:52:54.185Z: digits where the pattern has 9, the rest as it
// stands.
bool IsUtcTimeWithMilliseconds(const std::string& text) {
    const std::string pattern = "9999-99-99T99:99:99.999Z";
    if (text.size() != pattern.size()) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == '9' ? !digit : text[i] != pattern[i]) {
            return false;
        }
    }
    return true;
}

void ExpectTimesOfARun(const Json& record) {
    EXPECT_TRUE(IsUtcTimeWithMilliseconds(record["started"].get<std::string>())) << record;
    EXPECT_TRUE(IsUtcTimeWithMilliseconds(record["ended"].get<std::string>())) << record;
    EXPECT_LE(record["started"].get<std::string>(), record["ended"].get<std::string>());
    EXPECT_GE(record["seconds"].get<double>(), 0.0);
    double phases = 0;
    for (const char* phase : {"waiting", "upload", "count", "flash"}) {
        phases += record["phases"][phase].get<double>();
    }
    EXPECT_LE(phases, record["seconds"].get<double>() + 0.01) << record;
}

TEST(RunReport, CompleteDownloadIsRecordedWithEverythingThatWentOntoTheBoard) {
    sim::BoardConfig config;
    config.identity = "KELVOR DSP boot loader 2.4 serial 0042";
    config.greeting = {"-Ready", "-Flash 512K"};
    config.expectFlash = true;
    auto board = harness::StartBoard(config);
    const std::string content = harness::SampleHex(250);
    const std::string file = harness::WriteTempFile(content);

    const ReportedRun run = Download(*board, file, {"-W", "-B", "115200"});

    ASSERT_EQ(run.result.exitStatus, 0) << harness::Describe(run.result);
    const Json& record = run.record;
    EXPECT_EQ(record["version"], version::kVersion);
    EXPECT_EQ(record["mode"], "download");
    EXPECT_EQ(record["port"], harness::PortName(*board));
    EXPECT_EQ(record["device"], harness::PortName(*board));
    EXPECT_TRUE(record["usb"].is_null());
    EXPECT_EQ(record["baud"], 115200);
    EXPECT_EQ(record["file"], file);
    EXPECT_EQ(record["file_bytes"], content.size());
    EXPECT_EQ(record["file_sha256"], Sha256Hex(content.data(), content.size()));
    EXPECT_EQ(record["board"], config.identity);
    const std::vector<std::string> messages = record["board_messages"];
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Ready");
    EXPECT_EQ(messages[1], "Flash 512K");
    EXPECT_EQ(record["records_sent"], 250);
    EXPECT_EQ(record["sent_sha256"], Sha256Hex(download_test::OnWire(content).data(),
                                               download_test::OnWire(content).size()));
    EXPECT_EQ(record["records_confirmed"], 250);
    EXPECT_EQ(record["flash"], "acknowledged");
    EXPECT_EQ(record["start_sent"], true);
    EXPECT_TRUE(record["timeout"].is_null());
    EXPECT_EQ(record["outcome"], "complete");
    EXPECT_TRUE(record["error"].is_null());
    EXPECT_EQ(record["exit_status"], 0);
    EXPECT_TRUE(record["signal"].is_null());
    EXPECT_TRUE(record["board_number"].is_null());
    EXPECT_GT(record["phases"]["flash"].get<double>(), 0.2);  // three 100 ms progress lines
    ExpectTimesOfARun(record);
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));
    EXPECT_TRUE(board->Summary().downloadComplete);
}

TEST(RunReport, ProtocolFailuresAreRecordedWithTheMessagePrinted) {
    {
        sim::BoardConfig config;
        config.countOffset = 1;
        auto board = harness::StartBoard(config);
        const ReportedRun run = Download(*board, harness::WriteTempFile(harness::SampleHex(20)));
        EXPECT_EQ(run.result.exitStatus, 1);
        EXPECT_EQ(run.record["outcome"], "count-mismatch");
        EXPECT_EQ(run.record["error"],
                  "Mismatch: uploaded 20 lines; DSP reported 21 lines received");
        EXPECT_EQ(run.record["records_sent"], 20);
        EXPECT_EQ(run.record["records_confirmed"], 21);
        EXPECT_EQ(run.record["start_sent"], false);
        EXPECT_EQ(run.record["exit_status"], 1);
    }
    {
        sim::BoardConfig config;
        config.flashNeverAck = true;
        auto board = harness::StartBoard(config);
        const ReportedRun run =
            Download(*board, harness::WriteTempFile(harness::SampleHex(5)), {"-W"});
        EXPECT_EQ(run.record["outcome"], "flash-not-acknowledged");
        EXPECT_EQ(run.record["flash"], "not-acknowledged");
        EXPECT_EQ(run.record["error"], "Error: Flash Write command was not acknowledged");
    }
    {
        auto board = harness::StartBoard();
        const ReportedRun run = Download(*board, harness::WriteTempFile("no records here\n"));
        EXPECT_EQ(run.record["outcome"], "no-records");
        EXPECT_EQ(run.record["records_sent"], 0);
        EXPECT_TRUE(run.record["sent_sha256"].is_null());
        EXPECT_TRUE(run.record["records_confirmed"].is_null());
    }
}

TEST(RunReport, TimeoutIsRecordedWithItsLimit) {
    sim::BoardConfig config;
    config.silentPolls = kForever;
    auto board = harness::StartBoard(config);

    const ReportedRun run =
        Download(*board, harness::WriteTempFile(harness::SampleHex(5)), {"--timeout", "1"});

    EXPECT_EQ(run.result.exitStatus, 1);
    EXPECT_EQ(run.record["outcome"], "timeout");
    EXPECT_EQ(run.record["timeout"], 1);
    EXPECT_EQ(run.record["error"], "Error: No answer from the receiver within 1 s");
    EXPECT_TRUE(run.record["board"].is_null());
    EXPECT_GE(run.record["phases"]["waiting"].get<double>(), 0.9);
    EXPECT_EQ(run.record["exit_status"], 1);
}

TEST(RunReport, BoardThatHangsUpIsAPortErrorWithTheRecordsSentSoFar) {
    sim::BoardConfig config;
    config.hangUpAfterRecords = 100;
    auto board = harness::StartBoard(config);

    const ReportedRun run = Download(*board, harness::WriteTempFile(harness::SampleHex(2000)));

    EXPECT_EQ(run.result.exitStatus, 1) << harness::Describe(run.result);
    EXPECT_EQ(run.record["outcome"], "port-error");
    EXPECT_EQ(run.record["error"], "Error occurred: COMPort: write failed.");
    EXPECT_GE(run.record["records_sent"].get<int>(), 100);
    EXPECT_LT(run.record["records_sent"].get<int>(), 2000);
    EXPECT_EQ(run.record["exit_status"], 1);
}

TEST(RunReport, DataFileThatCannotBeOpenedIsAFileError) {
    auto board = harness::StartBoard();
    const std::string file = harness::WriteTempFile("", "x") + ".missing";

    const ReportedRun run = Download(*board, file);

    EXPECT_EQ(run.result.exitStatus, 1);
    EXPECT_EQ(run.result.err, "Can't open file " + file + " for upload\n");
    EXPECT_EQ(run.record["outcome"], "file-error");
    EXPECT_EQ(run.record["error"], "Can't open file " + file + " for upload");
    EXPECT_TRUE(run.record["file_bytes"].is_null());
    EXPECT_TRUE(run.record["file_sha256"].is_null());
}

TEST(RunReport, PortThatCannotBeOpenedIsAPortError) {
    const std::string report = MissingReportPath();
    const harness::ProcessResult result = harness::RunVantoir(
        {"-P", "/dev/vantoir-no-such-port", "-F", harness::WriteTempFile("x"), "--report", report},
        kRunGuardMs);
    EXPECT_EQ(result.exitStatus, 1);
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "port-error");
    EXPECT_EQ(record["port"], "/dev/vantoir-no-such-port");
    std::string reason = harness::OpenFailureLine("/dev/vantoir-no-such-port", result.err);
    reason.pop_back();
    EXPECT_EQ(record["error"], "Error occurred: COMPort: failed to open.\n" + reason);
}

TEST(RunReport, RawAndConsoleModesEndAsEnded) {
    auto board = harness::StartBoard();
    const std::string file = harness::WriteTempFile("raw bytes\n", "image.bin");
    const std::string report = MissingReportPath();
    const harness::ProcessResult raw = harness::RunVantoir(
        {"-P", harness::PortName(*board), "-R", "-F", file, "--report", report}, kRunGuardMs);
    ASSERT_EQ(raw.exitStatus, 0) << harness::Describe(raw);
    const Json rawRecord = OnlyRecord(report);
    EXPECT_EQ(rawRecord["mode"], "raw");
    EXPECT_EQ(rawRecord["outcome"], "ended");
    EXPECT_EQ(rawRecord["file_bytes"], 10);
    EXPECT_TRUE(rawRecord["records_sent"].is_null());
    EXPECT_TRUE(rawRecord["sent_sha256"].is_null());

    const std::string consoleReport = MissingReportPath();
    harness::ProcessOptions options;
    options.args = {"-P", harness::PortName(*board), "-C", "--report", consoleReport};
    harness::ChildProcess child(options);
    ASSERT_TRUE(child.WaitForStdout("Entering Console mode...\n", kRunGuardMs));
    child.Signal(SIGINT);
    const harness::ProcessResult console = child.Wait(kRunGuardMs);
    EXPECT_EQ(console.termSignal, SIGINT) << harness::Describe(console);
    const Json record = OnlyRecord(consoleReport);
    EXPECT_EQ(record["mode"], "console");
    EXPECT_EQ(record["outcome"], "ended");
    EXPECT_EQ(record["signal"], harness::RunsWindowsBuild() ? "CTRL_C" : "SIGINT");
    EXPECT_TRUE(record["exit_status"].is_null());
    EXPECT_TRUE(record["file"].is_null());
    EXPECT_TRUE(record["sent_sha256"].is_null());
}

// The console's handshake (-fp) polls like a download: the record's waiting
// is that time, the board's identity is recorded, and the console after it
// is no longer waiting.
TEST(RunReport, ConsoleHandshakeRecordsItsWait) {
    sim::BoardConfig late;
    late.silentPolls = 20;
    auto board = harness::StartBoard(late);
    const std::string report = MissingReportPath();
    harness::ProcessOptions options;
    options.args = {"-P", harness::PortName(*board), "-C", "-fp", "--report", report};
    harness::ChildProcess child(options);
    ASSERT_TRUE(child.WaitForStdout("Entering Console mode...\n", kRunGuardMs));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    child.Signal(SIGINT);
    const harness::ProcessResult console = child.Wait(kRunGuardMs);
    EXPECT_EQ(console.termSignal, SIGINT) << harness::Describe(console);
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["board"], "KELVOR DSP boot loader 2.4");
    const double waiting = record["phases"]["waiting"].get<double>();
    // Twenty unanswered polls of 50 ms each, then a second of console.
    EXPECT_GE(waiting, 0.9) << record.dump();
    EXPECT_LE(waiting, record["seconds"].get<double>() - 0.9) << record.dump();
}

TEST(RunReport, RunsAppendOneLineEachAlsoAtOnce) {
    const std::string report = NewReportPath();
    std::vector<std::unique_ptr<sim::Board>> boards;
    std::vector<std::unique_ptr<harness::ChildProcess>> children;
    const std::string file = harness::WriteTempFile(harness::SampleHex(300));
    for (int i = 0; i < 3; ++i) {
        boards.push_back(harness::StartBoard());
        harness::ProcessOptions options;
        options.args = {"-P", harness::PortName(*boards.back()), "-F", file, "--report", report};
        children.push_back(std::make_unique<harness::ChildProcess>(options));
    }
    for (auto& child : children) {
        EXPECT_EQ(child->Wait(kRunGuardMs).exitStatus, 0);
    }
    const harness::ProcessResult last = harness::RunVantoir(
        {"-P", harness::PortName(*boards[0]), "-F", file, "--report", report}, kRunGuardMs);
    EXPECT_EQ(last.exitStatus, 0);

    const std::vector<Json> records = ReadRecords(report);
    ASSERT_EQ(records.size(), 4u);
    std::vector<std::string> ports;
    for (const Json& record : records) {
        EXPECT_EQ(record["outcome"], "complete");
        ports.push_back(record["port"]);
    }
    for (const auto& board : boards) {
        EXPECT_NE(std::find(ports.begin(), ports.end(), harness::PortName(*board)), ports.end());
    }
}

TEST(RunReport, ReportFileThatCannotBeOpenedEndsTheRunBeforeThePort) {
    auto board = harness::StartBoard();
    const std::string report = harness::WriteTempFile("", "x") + ".missing/report.jsonl";

    const harness::ProcessResult result =
        harness::RunVantoir({"-P", harness::PortName(*board), "-F",
                             harness::WriteTempFile(harness::SampleHex(5)), "--report", report},
                            kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err, "Can't open report file " + report + "\n");
    EXPECT_EQ(board->BytesReceived(), 0);
}

TEST(RunReport, BoardTextThatIsNotUtf8StillGivesAValidRecord) {
    sim::BoardConfig config;
    config.identity = "KELVOR \xff\xfe";
    config.greeting = {"-caf\xe9"};
    auto board = harness::StartBoard(config);

    const ReportedRun run = Download(*board, harness::WriteTempFile(harness::SampleHex(3)));

    EXPECT_EQ(run.record["outcome"], "complete");
    EXPECT_EQ(run.record["board"], "KELVOR \xef\xbf\xbd\xef\xbf\xbd");
    EXPECT_EQ(run.record["board_messages"][0], "caf\xef\xbf\xbd");
}

TEST(RunReport, ImageRefusedByTheCheckIsRecordedAndTheBoardIsNeverTouched) {
    auto board = harness::StartBoard();
    const std::string file = harness::WriteTempFile(":0000000XFF\n:00000001FF\n");

    const ReportedRun run = Download(*board, file, {"--check"});

    EXPECT_EQ(run.result.exitStatus, 1) << harness::Describe(run.result);
    EXPECT_EQ(board->Received(), "");
    EXPECT_EQ(run.record["outcome"], "image-refused");
    EXPECT_EQ(run.record["exit_status"], 1);
    EXPECT_TRUE(run.record["device"].is_null()) << run.record;
    EXPECT_TRUE(run.record["board"].is_null());
    EXPECT_EQ(run.record["records_sent"], 0);
}

TEST(RunReport, ASoundImageCheckedBeforeTheDownloadLeavesTheDownloadsOutcome) {
    auto board = harness::StartBoard();
    const ReportedRun run =
        Download(*board, harness::WriteTempFile(harness::SampleHex(3)), {"--check"});

    EXPECT_EQ(run.result.exitStatus, 0) << harness::Describe(run.result);
    EXPECT_EQ(run.record["outcome"], "complete");
    EXPECT_EQ(run.record["records_confirmed"], 3);
}

}  // namespace
