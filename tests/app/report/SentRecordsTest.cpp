// What a record says was sent is what the board got: records_sent counts the
// record lines that reached it whole, and sent_sha256 is the digest of
// exactly those lines, as they arrived (stamped, line ends included), also
// when the operator ends the run mid-upload.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/app/report/ReportRecords.h"
#include "tests/app/report/SentLines.h"
#include "tests/support/Harness.h"
#include "text/Sha256.h"

namespace {

using report_test::Json;
using report_test::LineCount;
using report_test::OnlyRecord;
using report_test::WholeRecordLinesReceived;

constexpr int kGuardMs = 60000;

std::string Digest(const std::string& bytes) {
    return Sha256Hex(bytes.data(), bytes.size());
}

// The guide's way of computing sent_sha256 from a file, run by the shell.
std::string GuideDigest(const std::string& file) {
    const std::string command =
        "awk '/^:/ { gsub(/\\r/, \"\"); printf \"%s\\r\\n\", $0 }' '" + file + "' | sha256sum";
    std::FILE* pipe = popen(command.c_str(), "r");
    char digest[65] = {};
    const bool read = pipe != nullptr && std::fread(digest, 1, 64, pipe) == 64;
    if (pipe != nullptr) {
        pclose(pipe);
    }
    return read ? digest : "";
}

struct RecordedRun {
    harness::ProcessResult result;
    Json record;
};

RecordedRun Download(const sim::Board& board, const std::string& file,
                     std::vector<std::string> extra) {
    const std::string report = harness::WriteTempFile("", "x") + ".jsonl";
    std::vector<std::string> args = {"-P",  harness::PortName(board), "-F", file, "--report",
                                     report};
    args.insert(args.end(), extra.begin(), extra.end());
    RecordedRun run;
    run.result = harness::RunVantoir(args, kGuardMs);
    run.record = OnlyRecord(report);
    return run;
}

// Line ends of every kind, a line that is no record, a last record line
// without its line end: the digest is of the record lines as they went out,
// each ended by CR LF, as the guide computes it from the file.
TEST(SentRecords, APlainDownloadDigestsTheFilesRecordLinesAsTheGuideComputesThem) {
    auto board = harness::StartBoard();
    const std::string file = harness::WriteTempFile(
        ":0400000001020304F2\n; a comment\n:0400040005060708DA\r\n:00000001FF");

    const RecordedRun run = Download(*board, file, {});

    ASSERT_EQ(run.result.exitStatus, 0) << harness::Describe(run.result);
    const std::string sent = ":0400000001020304F2\r\n:0400040005060708DA\r\n:00000001FF\r\n";
    EXPECT_EQ(run.record["records_sent"], 3);
    EXPECT_EQ(run.record["sent_sha256"], Digest(sent));
    EXPECT_EQ(WholeRecordLinesReceived(*board, kGuardMs), sent);
    EXPECT_EQ(GuideDigest(file), Digest(sent));
}

// Each board's own number goes into its lines: the digest is of the lines it
// got, not of the file's.
TEST(SentRecords, AStampedBoardsDigestIsOfTheStampedLinesItGot) {
    auto board = harness::StartBoard();
    const std::string file = harness::WriteTempFile(harness::SampleHex(30));
    const std::string ledger = harness::WriteTempFile("", "ledger.jsonl");

    const RecordedRun run = Download(
        *board, file, {"--stamp", "0x1E:u32le", "--stamp-ledger", ledger, "--stamp-overwrite"});

    ASSERT_EQ(run.result.exitStatus, 0) << harness::Describe(run.result);
    const std::string got = WholeRecordLinesReceived(*board, kGuardMs);
    EXPECT_EQ(LineCount(got), 30);
    EXPECT_EQ(run.record["sent_sha256"], Digest(got));
    EXPECT_NE(run.record["sent_sha256"], GuideDigest(file));
}

// A paced board, the operator ending the run mid-upload: the port's queue is
// dropped where it has one; a pseudo-terminal has none, so nothing is dropped
// and the board gets every line written. Either way the record counts and
// digests the lines the board got whole, never one more or one less.
TEST(SentRecords, ARunEndedMidUploadRecordsTheWholeLinesTheBoardGot) {
    const int signal = harness::RunsWindowsBuild() ? SIGINT : SIGTERM;
    sim::BoardConfig config;
    config.baudRate = 115200;
    auto board = harness::StartBoard(config);
    const std::string report = harness::WriteTempFile("", "x") + ".jsonl";
    harness::ProcessOptions options;
    options.args = {"-P",       harness::PortName(*board),
                    "-F",       harness::WriteTempFile(harness::SampleHex(2000)),
                    "--report", report};
    harness::ChildProcess child(options);
    ASSERT_TRUE(board->WaitForRecords(100, kGuardMs)) << child.Stdout() << child.Stderr();
    child.Signal(signal);
    const harness::ProcessResult result = child.Wait(kGuardMs);

    if (!harness::RunsWindowsBuild()) {
        EXPECT_EQ(result.termSignal, signal) << harness::Describe(result);
    }
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "interrupted");
    const std::string got = WholeRecordLinesReceived(*board, kGuardMs);
    EXPECT_GE(LineCount(got), 100);
    EXPECT_LT(LineCount(got), 2000);
    EXPECT_EQ(record["records_sent"], LineCount(got));
    EXPECT_EQ(record["sent_sha256"], Digest(got));
}

}  // namespace
