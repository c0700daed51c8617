// --stamp with the ledger in PostgreSQL: a real server of the test's own
// (harness::PostgresServer), several stations' runs reserving from it at
// once, each board with a number no other board got; a station's role that
// may only use the table the administrator made, as the production guide
// prints it.

#include <gtest/gtest.h>

#include <fstream>
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

class StampPostgres : public stamp_test::PostgresLedgerSuite {
  protected:
    std::vector<std::string> Args(const sim::Board& board, const std::string& ledger,
                                  std::vector<std::string> extra = {}) const {
        std::vector<std::string> args = {
            "-P",         harness::PortName(board), "-F",  dataFile, "--stamp",
            "0x20:u16be", "--stamp-ledger",         ledger};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    std::string content = stamp_test::BlankedHex(harness::SampleHex(20), 0x20, 0x21);
    std::string dataFile = harness::WriteTempFile(content);
};

// The production guide's SQL that makes the ledger's table once and gives a
// station's role the rights to use it, as printed.
std::string PrintedTableSql() {
    std::ifstream in(VANTOIR_SOURCE_DIR "/docs/production.md");
    std::stringstream text;
    text << in.rdbuf();
    const std::string guide = text.str();
    const std::string start = "```sql\n-- The ledger's table, made once";
    const size_t from = guide.find(start);
    if (from == std::string::npos) {
        return std::string();
    }
    const size_t body = from + 7;
    return guide.substr(body, guide.find("```\n", body) - body);
}

// The table's columns and constraints, as the server describes them.
std::string TableShape(harness::PostgresServer& server, const std::string& database) {
    return server.Query(database,
                        "SELECT string_agg(column_name || ' ' || data_type || ' ' || is_nullable "
                        "|| ' ' || coalesce(column_default, '-'), ', ' ORDER BY ordinal_position) "
                        "FROM information_schema.columns WHERE table_name = "
                        "'vantoir_stamp_ledger'") +
           server.Query(database,
                        "SELECT string_agg(pg_get_constraintdef(oid), '; ' ORDER BY "
                        "pg_get_constraintdef(oid)) FROM pg_constraint WHERE conrelid = "
                        "'vantoir_stamp_ledger'::regclass");
}

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

TEST_F(StampPostgres, AStationsRoleNeedsOnlyTheGuidesGrantsOnTheTableItsAdministratorMade) {
    SKIP_UNDER_WINE("the Windows build has no database ledger");
    const std::string sql = PrintedTableSql();
    ASSERT_FALSE(sql.empty()) << "the guide no longer prints how the table is made";
    if (server->Query("postgres", "SELECT count(*) FROM pg_roles WHERE rolname = 'station'") ==
        "0\n") {
        server->Query("postgres", "CREATE ROLE station LOGIN");
    }
    server->Address("granted");
    const std::string station = server->AddressAs("granted", "station");
    auto board = harness::StartBoard();

    // The role cannot make the table: said before the port is opened.
    const harness::ProcessResult refused = harness::RunVantoir(Args(*board, station), kRunGuardMs);
    EXPECT_EQ(refused.exitStatus, 1) << harness::Describe(refused);
    EXPECT_EQ(refused.err.rfind("Stamp ledger " + station + ": ", 0), 0u) << refused.err;
    EXPECT_NE(refused.err.find("permission denied for schema public"), std::string::npos)
        << refused.err;
    EXPECT_EQ(board->Received(), "");

    // Once the administrator has made it, the role takes numbers and
    // closes them.
    server->Query("granted", sql);
    for (int run = 0; run < 2; ++run) {
        auto next = harness::StartBoard();
        const harness::ProcessResult result =
            harness::RunVantoir(Args(*next, station), kRunGuardMs);
        EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
        EXPECT_EQ(result.err, "");
    }
    EXPECT_EQ(Rows("granted"), "1 used complete\n2 used complete\n");

    // The guide's table is the one the program makes itself.
    const std::string owner = server->Address("made");
    auto first = harness::StartBoard();
    EXPECT_EQ(harness::RunVantoir(Args(*first, owner), kRunGuardMs).exitStatus, 0);
    EXPECT_EQ(TableShape(*server, "granted"), TableShape(*server, "made"));
}

TEST_F(StampPostgres, TheLedgerListOfADatabaseShowsEveryNumberNotUsedAndCountsEachState) {
    SKIP_UNDER_WINE("the Windows build has no database ledger");
    const std::string ledger = server->Address("listed");
    sim::BoardConfig miscounting;
    miscounting.countOffset = 1;
    auto good = harness::StartBoard();
    auto bad = harness::StartBoard(miscounting);
    EXPECT_EQ(harness::RunVantoir(Args(*good, ledger, {"--run-id", "r1"}), kRunGuardMs).exitStatus,
              0);
    EXPECT_EQ(harness::RunVantoir(Args(*bad, ledger), kRunGuardMs).exitStatus, 1);
    // A run killed after its reservation leaves its row reserved.
    server->Query("listed",
                  "INSERT INTO vantoir_stamp_ledger (value_key, value, format, state, port, "
                  "run_id, station) VALUES ('0003', '3', 'u16be', 'reserved', 'COM7', 'r3', "
                  "'line \"B\"')");
    const std::string time =
        "to_char(coalesce(closed_at, reserved_at) AT TIME ZONE 'UTC', "
        "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";
    const std::string times =
        server->Query("listed", "SELECT " + time +
                                    " FROM vantoir_stamp_ledger WHERE state <> 'used' ORDER BY "
                                    "value_key");

    const harness::ProcessResult listed =
        harness::RunVantoir({"--ledger-list", ledger}, kRunGuardMs);
    EXPECT_EQ(listed.exitStatus, 0) << harness::Describe(listed);
    EXPECT_EQ(listed.err, "");
    const size_t second = times.find('\n');
    EXPECT_EQ(listed.out, "2 failed time=" + times.substr(0, second) + " port=\"" +
                              harness::PortName(*bad) +
                              "\" run_id=null station=null\n"
                              "3 reserved time=" +
                              times.substr(second + 1, times.size() - second - 2) +
                              " port=\"COM7\" run_id=\"r3\" station=\"line \\\"B\\\"\"\n"
                              "In all: 1 reserved, 1 used, 1 failed, 0 interrupted.\n");
}
