// vantoir --yield over the factory's table of records in a real PostgreSQL
// server of the test's own: the table made as the factory's record makes it
// and filled with the records of a file (a record without record_id named
// by the database's own version 5 UUID of its line, in the records'
// namespace), read back with the same figures as the file.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/records/RecordId.h"
#include "tests/app/yield/YieldTestSupport.h"
#include "tests/support/Harness.h"
#include "tests/support/PostgresSuite.h"

namespace {

using yield_test::RecordFacts;
using yield_test::Yield;

constexpr const char* kCreateTable =
    "CREATE TABLE vantoir_records (record_id uuid PRIMARY KEY, run_id text NOT NULL, station "
    "text, port text, board_number integer, label text, started timestamptz, ended timestamptz, "
    "outcome text NOT NULL, exit_status integer, file_sha256 text, seconds double precision, "
    "record jsonb NOT NULL)";

class YieldPostgres : public harness::PostgresSuite {
  protected:
    // Stores the lines of the record file at path in the table of a new
    // database; its address.
    static std::string Store(const std::string& database, const std::string& path) {
        const std::string address = server->Address(database);
        server->Query(database, std::string("CREATE EXTENSION \"uuid-ossp\"; ") + kCreateTable +
                                    "; CREATE TABLE staging (line text)");
        // Each line whole, as one field: no byte of JSON text is special.
        server->Query(database, "\\copy staging (line) from '" + path +
                                    "' with (format csv, quote e'\\x01', delimiter e'\\x02')");
        server->Query(
            database,
            std::string("INSERT INTO vantoir_records SELECT coalesce((r->>'record_id')::uuid, "
                        "uuid_generate_v5('") +
                kRecordIdNamespace +
                "', line)), r->>'run_id', r->>'station', r->>'port', "
                "(r->>'board_number')::integer, r->>'label', (r->>'started')::timestamptz, "
                "(r->>'ended')::timestamptz, r->>'outcome', (r->>'exit_status')::integer, "
                "r->>'file_sha256', (r->>'seconds')::double precision, r FROM (SELECT line, "
                "line::jsonb AS r FROM staging) AS lines ON CONFLICT (record_id) DO NOTHING; "
                "DROP TABLE staging");
        return address;
    }
};

RecordFacts Made(const std::string& station, const std::string& label, const std::string& outcome,
                 int minute, double seconds, bool named) {
    RecordFacts facts;
    facts.station = station;
    facts.port = station == "A" ? "/dev/ttyUSB0" : "usb:0403:6001";
    facts.label = label;
    facts.outcome = outcome;
    facts.started = "2026-12-09T08:" + std::string(minute < 10 ? "0" : "") +
                    std::to_string(minute) + ":00.250Z";
    facts.seconds = seconds;
    facts.recordId = named ? "" : "-";
    return facts;
}

}  // namespace

TEST_F(YieldPostgres, TheTableGivesTheFiguresOfTheRecordsItHolds) {
    SKIP_UNDER_WINE("the Windows build has no PostgreSQL client");
    // U4's aborted run is no first run. Records of an earlier version have
    // no record_id: the table names them as the summary names their lines.
    const std::string file = yield_test::RecordFile({
        Made("A", "U1", "count-mismatch", 0, 40, true),
        Made("A", "U2", "complete", 5, 42, false),
        Made("A", "U1", "complete", 10, 41, true),
        Made("A", "U3", "timeout", 15, 60, false),
        Made("B", "U4", "interrupted", 20, 3, true),
        Made("B", "U4", "complete", 30, 31, true),
        Made("B", "", "complete", 35, 32.5, false),
        Made("B", "", "count-mismatch", 40, 33, true),
    });
    const std::string url = Store("yield_same", file);
    ASSERT_EQ(server->Query("yield_same", "SELECT count(*) FROM vantoir_records"), "8\n");

    const yield_test::Summary fromFile = Yield({file});
    const yield_test::Summary fromTable = Yield({url});
    ASSERT_EQ(fromTable.result.exitStatus, 0) << harness::Describe(fromTable.result);
    EXPECT_EQ(fromTable.result.err, "");
    EXPECT_EQ(fromTable.Row("all"), "all,,,7,6,4,3,1,0,50.0,66.7,40.000,60.000,");
    EXPECT_EQ(fromTable.csvText, fromFile.csvText);

    // Both at once: every record found twice, counted once.
    const yield_test::Summary both = Yield({file, url});
    EXPECT_EQ(both.result.exitStatus, 0) << harness::Describe(both.result);
    EXPECT_EQ(both.csvText, fromFile.csvText);
    EXPECT_NE(both.result.out.find(" UTC (8 found twice, counted once)\n"), std::string::npos)
        << both.result.out;

    // The filters' times, which the database applies too.
    const std::vector<std::string> filters = {
        "--since", "2026-12-09T08:05Z", "--until", "2026-12-09T08:35:00Z", "--station", "A"};
    const yield_test::Summary filtered = Yield({url}, filters);
    EXPECT_EQ(filtered.Row("all"), "all,,,3,3,2,1,0,0,66.7,66.7,42.000,60.000,");
    EXPECT_EQ(filtered.csvText, Yield({file}, filters).csvText);
}

TEST_F(YieldPostgres, ADatabaseThatCannotBeReadEndsTheCommandAndKeepsItsPasswordUnsaid) {
    SKIP_UNDER_WINE("the Windows build has no PostgreSQL client");
    std::string url = server->Address("yield_without_table");
    url.replace(0, std::string("postgresql://").size(), "postgresql://vantoir:secret@");
    const harness::ProcessResult result =
        harness::RunVantoir({"--yield", url}, yield_test::kGuardMs);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err.rfind("Can't read records from postgresql://vantoir", 0), 0u)
        << result.err;
    EXPECT_NE(result.err.find("vantoir_records"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("secret"), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("Sources:"), std::string::npos);
}

TEST(YieldWithoutPostgres, TheWindowsBuildRefusesADatabaseAndSaysWhy) {
    if (!harness::RunsWindowsBuild()) {
        GTEST_SKIP() << "this build reads databases (YieldPostgres)";
    }
    const std::string file = yield_test::RecordFile({Made("A", "", "complete", 0, 40, true)});
    const harness::ProcessResult result = harness::RunVantoir(
        {"--yield", file, "postgresql://line@db.example.net/production"}, yield_test::kGuardMs);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err,
              "Can't read records from postgresql://line@db.example.net/production: this build "
              "reads record files only (it was built without PostgreSQL)\n");
}
