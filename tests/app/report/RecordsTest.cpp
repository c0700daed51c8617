// What the records say must be what happened: the data a board got (a
// leading byte-order mark is no part of it), the run that wrote them
// (run_id, station), a refused image's reasons, and a run whose standard
// output was closed still writes its record.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/report/ReportRecords.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"
#include "text/Sha256.h"

namespace {

using report_test::Json;
using report_test::OnlyRecord;
using report_test::ReadRecords;

constexpr int kGuardMs = 60000;
const std::string kMark = "\xEF\xBB\xBF";

// 8-4-4-4-12 lower-case hex digits, version 4, variant 10.
bool IsRandomUuid(const std::string& text) {
    const std::string shape = "xxxxxxxx-xxxx-4xxx-Vxxx-xxxxxxxxxxxx";
    if (text.size() != shape.size()) {
        return false;
    }
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool hex = (text[i] >= '0' && text[i] <= '9') || (text[i] >= 'a' && text[i] <= 'f');
        const bool ok = shape[i] == 'x'   ? hex
                        : shape[i] == 'V' ? std::string("89ab").find(text[i]) != std::string::npos
                                          : text[i] == shape[i];
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::string NewReportPath() {
    return harness::WriteTempFile("", "x") + ".jsonl";
}

TEST(ByteOrderMark, IsSkippedByTheDownloadTheCheckAndTheDigest) {
    const std::string content = harness::SampleHex(5);
    const std::string file = harness::WriteTempFile(kMark + content);
    const std::string digest = Sha256Hex(content.data(), content.size());

    // A plain run sends every record, the first one too.
    auto board = harness::StartBoard();
    const harness::ProcessResult plain = download_test::Download(*board, file);
    EXPECT_EQ(plain.exitStatus, 0) << harness::Describe(plain);
    ASSERT_TRUE(board->WaitForStart(kGuardMs));
    download_test::ExpectSessionOnWire(board->Received(), download_test::OnWire(content), "S\r\n");

    // One digest everywhere: the check's line and the record.
    const harness::ProcessResult checked =
        harness::RunVantoir({"--check-only", "-F", file}, kGuardMs);
    EXPECT_EQ(checked.exitStatus, 0) << harness::Describe(checked);
    EXPECT_NE(checked.out.find("5 records, "), std::string::npos) << checked.out;
    EXPECT_NE(checked.out.find("SHA-256 " + digest + "\n"), std::string::npos) << checked.out;
    auto second = harness::StartBoard();
    const std::string report = NewReportPath();
    const harness::ProcessResult recorded =
        download_test::Download(*second, file, {"--check", "--report", report});
    EXPECT_EQ(recorded.exitStatus, 0) << harness::Describe(recorded);
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["file_sha256"], digest);
    EXPECT_EQ(record["file_bytes"], content.size());
    EXPECT_EQ(record["records_confirmed"], 5);
}

TEST(RunRecords, RunIdAndStationFollowTheBoardNumber) {
    auto board = harness::StartBoard();
    const std::string file = harness::WriteTempFile(harness::SampleHex(3));
    const std::string report = NewReportPath();
    download_test::Download(*board, file, {"--report", report, "--station", "line 3 / bay 2"});
    auto next = harness::StartBoard();
    download_test::Download(*next, file, {"--report", report, "--run-id", "board-0042"});

    const std::vector<Json> records = ReadRecords(report);
    ASSERT_EQ(records.size(), 2u);
    // Read back, the keys are sorted; the file keeps the program's order.
    std::string line;
    {
        std::ifstream in(report);
        std::getline(in, line);
    }
    const size_t number = line.find("\"board_number\":null,");
    ASSERT_NE(number, std::string::npos) << line;
    EXPECT_EQ(line.compare(number + 20, 10, "\"run_id\":\""), 0) << line;
    // The record's own name follows the run's: a random UUID in lower case.
    const size_t recordId = line.find("\",\"record_id\":\"", number + 30);
    ASSERT_EQ(recordId, number + 30 + 36) << line;
    EXPECT_TRUE(IsRandomUuid(line.substr(recordId + 15, 36))) << line;
    EXPECT_EQ(line.compare(recordId + 15 + 36, 2, "\","), 0) << line;
    EXPECT_NE(records[0]["record_id"], records[1]["record_id"]);
    EXPECT_NE(line.find("\"station\":\"line 3 / bay 2\",\"label\":null}"), std::string::npos)
        << line;
    EXPECT_EQ(records[0]["run_id"].get<std::string>().size(), 36u) << "generated: a UUID";
    EXPECT_EQ(records[1]["run_id"], "board-0042");
    EXPECT_TRUE(records[1]["station"].is_null());
    const harness::ProcessResult empty = harness::RunVantoir({"--run-id", ""}, kGuardMs);
    EXPECT_EQ(empty.err, "Invalid value for switch --run-id: \n");
}

TEST(RunRecords, ARefusedImageIsRecordedWithItsReasonsAlsoForEachPortOfAGang) {
    const std::string file = harness::WriteTempFile(":0000000XFF\n:00000001FF\n");
    auto board = harness::StartBoard();
    const std::string single = NewReportPath();
    const harness::ProcessResult refused =
        download_test::Download(*board, file, {"--check", "--report", single, "--run-id", "r1"});
    EXPECT_EQ(refused.exitStatus, 1);
    const Json record = OnlyRecord(single);
    EXPECT_EQ(record["outcome"], "image-refused");
    // As on the screen: the findings, then the refusal.
    std::vector<std::string> shown = download_test::Lines(refused.err);
    ASSERT_GE(shown.size(), 2u) << refused.err;
    for (std::string& line : shown) {
        line.pop_back();
    }
    EXPECT_EQ(record["error"], shown.back());
    shown.pop_back();
    EXPECT_EQ(record["findings"].get<std::vector<std::string>>(), shown);
    EXPECT_EQ(shown[0], file + ":1: character 'X' at column 9 is not a hex digit");

    const std::string gangReport = NewReportPath();
    const harness::ProcessResult gang =
        harness::RunVantoir({"--gang", "/dev/vantoir-a,/dev/vantoir-b", "-F", file, "--check",
                             "--report", gangReport, "--run-id", "lot"},
                            kGuardMs);
    EXPECT_EQ(gang.exitStatus, 1) << harness::Describe(gang);
    const std::vector<Json> records = ReadRecords(gangReport);
    ASSERT_EQ(records.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const std::string port = i == 0 ? "/dev/vantoir-a" : "/dev/vantoir-b";
        EXPECT_EQ(records[i]["port"], port);
        EXPECT_EQ(records[i]["outcome"], "image-refused");
        EXPECT_EQ(records[i]["error"], record["error"]);
        EXPECT_EQ(records[i]["findings"], record["findings"]);
        EXPECT_EQ(records[i]["exit_status"], 1);
        EXPECT_EQ(records[i]["run_id"], "lot@" + port);
    }

    const std::string only = NewReportPath();
    harness::RunVantoir(
        {"--check-only", "-F", harness::WriteTempFile(harness::SampleHex(2)), "--report", only},
        kGuardMs);
    EXPECT_EQ(OnlyRecord(only)["outcome"], "image-ok");
}

TEST(ClosedOutput, TheRunEndsAsInterruptedWithItsRecordAndThenAsSigpipeWould) {
    SKIP_UNDER_WINE("Windows has no SIGPIPE");
    const std::string file = harness::WriteTempFile(harness::SampleHex(30));
    auto board = harness::StartBoard();
    const std::string report = NewReportPath();
    const harness::ProcessResult closed = harness::RunIntoAClosedPipe(
        {"-P", harness::PortName(*board), "-F", file, "--report", report}, false, kGuardMs);

    EXPECT_EQ(closed.exitStatus, 141) << harness::Describe(closed);
    EXPECT_EQ(closed.err, "");
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "interrupted");
    EXPECT_EQ(record["signal"], "SIGPIPE");
    EXPECT_TRUE(record["exit_status"].is_null());

    // Started with SIGPIPE ignored, the run keeps going as before.
    auto other = harness::StartBoard();
    const std::string kept = NewReportPath();
    const harness::ProcessResult ignored = harness::RunIntoAClosedPipe(
        {"-P", harness::PortName(*other), "-F", file, "--report", kept}, true, kGuardMs);
    EXPECT_EQ(ignored.exitStatus, 0) << harness::Describe(ignored);
    EXPECT_EQ(OnlyRecord(kept)["outcome"], "complete");
    ASSERT_TRUE(other->WaitForStart(kGuardMs));
}

// The gang's output closed while its ports download: every port's run ends in
// order, as on Ctrl-C, each with its record, and the gang as SIGPIPE would.
TEST(ClosedOutput, AGangKeepsEveryPortsRecordAndEndsAsSigpipeWould) {
    SKIP_UNDER_WINE("Windows has no SIGPIPE");
    sim::BoardConfig paced;
    paced.baudRate = 9600;
    std::vector<std::unique_ptr<sim::Board>> boards;
    std::string ports;
    for (int i = 0; i < 3; ++i) {
        boards.push_back(harness::StartBoard(paced));
        ports += (i > 0 ? "," : "") + harness::PortName(*boards.back());
    }
    const std::string report = NewReportPath();
    const harness::ProcessResult closed = harness::RunIntoAClosedPipe(
        {"--gang", ports, "-B", "9600", "-F", harness::WriteTempFile(harness::SampleHex(400)),
         "--report", report},
        false, kGuardMs, true);

    EXPECT_EQ(closed.exitStatus, 141) << harness::Describe(closed);
    const std::vector<Json> records = ReadRecords(report);
    ASSERT_EQ(records.size(), 3u) << harness::Describe(closed);
    std::set<std::string> recorded;
    for (const Json& record : records) {
        EXPECT_EQ(record["outcome"], "interrupted") << record.dump();
        EXPECT_EQ(record["signal"], "SIGPIPE") << record.dump();
        recorded.insert(record["port"].get<std::string>());
    }
    EXPECT_EQ(recorded.size(), 3u);
}

// Waits until the file holds count records; false after timeoutMs (a guard:
// the records come by themselves, from processes the test no longer has).
bool WaitForRecords(const std::string& path, size_t count, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ReadRecords(path).size() < count) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

TEST(GangParentKilled, ItsRunsEndInOrderWithTheirRecordsEvenWhileTheyWriteNothing) {
    sim::BoardConfig silent;
    silent.silentPolls = 1000000;
    auto board = harness::StartBoard(silent);
    const std::string report = NewReportPath();
    harness::ProcessOptions options;
    options.args = {"--gang",   harness::PortName(*board),
                    "-F",       harness::WriteTempFile(harness::SampleHex(3)),
                    "--report", report};
    harness::ChildProcess gang(options);
    ASSERT_TRUE(board->WaitForReceived("?\r\n?\r\n", kGuardMs)) << gang.Stdout();

    gang.Signal(SIGKILL);
    gang.Wait(kGuardMs);

    ASSERT_TRUE(WaitForRecords(report, 1, kGuardMs));
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "interrupted");
    // Linux: the parent-death signal; Windows: the thread that waits on the
    // parent's handle, as the closing of the console.
    EXPECT_EQ(record["signal"], harness::RunsWindowsBuild() ? "CTRL_CLOSE" : "SIGHUP");
    EXPECT_EQ(record["port"], harness::PortName(*board));
}

}  // namespace
