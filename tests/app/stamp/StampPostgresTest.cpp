// --stamp with the ledger in PostgreSQL: a real server of the test's own
// (harness::PostgresServer), several stations' runs reserving from it at
// once, each board with a number no other board got.

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/stamp/StampLedger.h"
#include "tests/app/report/ReportRecords.h"
#include "tests/app/stamp/StampTestSupport.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"
#include "tests/support/PostgresServer.h"

namespace {

using download_test::kRunGuardMs;
using stamp_test::Memory;
using stamp_test::RecordLines;

class StampPostgres : public ::testing::Test {
  protected:
    // The Windows build has no database ledger; the server is started only
    // for the program that can use it.
    static void SetUpTestSuite() {
        if (!harness::RunsWindowsBuild()) {
            server = new harness::PostgresServer();
        }
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    std::vector<std::string> Args(const sim::Board& board, const std::string& ledger,
                                  std::vector<std::string> extra = {}) const {
        std::vector<std::string> args = {
            "-P",         harness::PortName(board), "-F",  dataFile, "--stamp",
            "0x20:u16be", "--stamp-ledger",         ledger};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    // The table's rows as "value state outcome" lines, in order of value.
    static std::string Rows(const std::string& database) {
        return server->Query(database,
                             "SELECT value || ' ' || state || ' ' || coalesce(outcome, '-') "
                             "FROM vantoir_stamp_ledger ORDER BY value_key");
    }

    static harness::PostgresServer* server;
    std::string content = stamp_test::BlankedHex(harness::SampleHex(20), 0x20, 0x21);
    std::string dataFile = harness::WriteTempFile(content);
};

harness::PostgresServer* StampPostgres::server = nullptr;

uint16_t FieldOf(const sim::Board& board) {
    const auto memory = Memory(RecordLines(board.Received()));
    return static_cast<uint16_t>(memory.at(0x20) << 8 | memory.at(0x21));
}

}  // namespace

TEST_F(StampPostgres, StationsOneAfterTheOtherContinueOneSeriesAndCloseEachNumber) {
    SKIP_UNDER_WINE("the Windows build has no database ledger");
    ASSERT_TRUE(BuildHasDatabaseLedger());
    const std::string ledger = server->Address("series");
    const std::string report = harness::WriteTempFile("", "report.jsonl");
    sim::BoardConfig miscounting;
    miscounting.countOffset = 3;
    auto first = harness::StartBoard();
    auto failing = harness::StartBoard(miscounting);
    auto third = harness::StartBoard();

    const harness::ProcessResult one = harness::RunVantoir(
        Args(*first, ledger,
             {"--stamp-start", "1000", "--report", report, "--run-id", "r1", "--station", "S1"}),
        kRunGuardMs);
    EXPECT_EQ(one.exitStatus, 0) << harness::Describe(one);
    EXPECT_EQ(one.err, "");
    EXPECT_NE(one.out.find("Stamp 1000 reserved for 0x00000020 (u16be)\n"), std::string::npos);
    EXPECT_EQ(harness::RunVantoir(Args(*failing, ledger), kRunGuardMs).exitStatus, 1);
    // The table made by the first run is used as it is, without a word.
    const harness::ProcessResult three = harness::RunVantoir(Args(*third, ledger), kRunGuardMs);
    EXPECT_EQ(three.exitStatus, 0) << harness::Describe(three);
    EXPECT_EQ(three.err, "");

    EXPECT_EQ(Rows("series"),
              "1000 used complete\n1001 failed count-mismatch\n1002 used complete\n");
    ASSERT_TRUE(third->WaitForStart(kRunGuardMs));
    EXPECT_EQ(FieldOf(*third), 1002);
    const report_test::Json record = report_test::OnlyRecord(report);
    EXPECT_EQ(record["stamp"]["value"], 1000);
    EXPECT_EQ(record["stamp"]["ledger"], ledger);
    // The run and station a row names: the reserving run's, kept when closed.
    EXPECT_EQ(server->Query("series",
                            "SELECT value || ' ' || coalesce(run_id, '-') || ' ' || "
                            "coalesce(station, '-') FROM vantoir_stamp_ledger "
                            "ORDER BY value_key"),
              "1000 r1 S1\n1001 - -\n1002 - -\n");
}

TEST_F(StampPostgres, EightRunsAtOnceOnAFreshDatabaseTakeEightDifferentNumbers) {
    SKIP_UNDER_WINE("the Windows build has no database ledger");
    const std::string ledger = server->Address("crowd");
    std::vector<std::unique_ptr<sim::Board>> boards;
    std::vector<std::unique_ptr<harness::ChildProcess>> runs;
    for (int i = 0; i < 8; ++i) {
        boards.push_back(harness::StartBoard());
        harness::ProcessOptions options;
        options.args = Args(*boards.back(), ledger);
        runs.push_back(std::make_unique<harness::ChildProcess>(options));
    }
    std::set<uint16_t> values;
    for (size_t i = 0; i < runs.size(); ++i) {
        const harness::ProcessResult result = runs[i]->Wait(kRunGuardMs);
        ASSERT_EQ(result.exitStatus, 0) << harness::Describe(result);
        ASSERT_TRUE(boards[i]->WaitForStart(kRunGuardMs));
        values.insert(FieldOf(*boards[i]));
    }
    EXPECT_EQ(values, (std::set<uint16_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(server->Query("crowd",
                            "SELECT count(*) FROM vantoir_stamp_ledger WHERE state = "
                            "'used'"),
              "8\n");
}

TEST_F(StampPostgres, ALedgerThatCannotBeReachedEndsTheRunBeforeThePortIsOpened) {
    auto board = harness::StartBoard();
    const std::string ledger = "postgresql://vantoir:secret@/none?host=/nonexistent-folder";
    const harness::ProcessResult result = harness::RunVantoir(Args(*board, ledger), kRunGuardMs);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err.rfind(
                  "Stamp ledger postgresql://vantoir:***@/none?host=/nonexistent-folder: ", 0),
              0u)
        << result.err;
    EXPECT_EQ(result.out.rfind("Parsed command line: -P " + harness::PortName(*board) + " -F " +
                                   dataFile +
                                   " --stamp 0x20:u16be --stamp-ledger "
                                   "postgresql://vantoir:***@/none?host=/nonexistent-folder\n",
                               0),
              0u)
        << result.out;
    EXPECT_EQ(result.err.find("secret"), std::string::npos);
    EXPECT_EQ(result.out.find("secret"), std::string::npos);
    EXPECT_EQ(board->Received(), "");
}
