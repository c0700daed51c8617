// vantoir --forward-records: the whole of a record file forwarded to the
// factory's table, what it had counted apart from what it lacked, the lines
// that could not go said with their place; twice, from a copy, or two at
// once while a gang appends, every record stored once.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/app/factory/FactoryTestSupport.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"

namespace {

using download_test::kRunGuardMs;
using factory_test::FactoryDatabase;
using factory_test::FileLines;
using factory_test::Forward;
using factory_test::ForwardedLine;
using factory_test::IdOfLine;
using factory_test::NewReportPath;

// A record as an earlier version wrote it (no record_id), started at the
// minute given.
std::string EarlierRecord(int minute, const std::string& started = "") {
    const std::string at =
        started.empty() ? "2026-12-01T08:" + std::to_string(10 + minute) + ":00.000Z" : started;
    return R"({"version":"1.2","started":")" + at +
           R"(","mode":"download","outcome":"complete","run_id":"old-)" + std::to_string(minute) +
           R"(","exit_status":0})";
}

}  // namespace

TEST_F(FactoryDatabase, ForwardingTwiceOrACopyFromAnotherMachineStoresNothingTwice) {
    SKIP_UNDER_WINE("the Windows build has no PostgreSQL client");
    const std::string database = server->Address("twice");
    const std::string report = NewReportPath();
    const std::string dataFile = harness::WriteTempFile(harness::SampleHex(10));
    for (int run = 0; run < 2; ++run) {
        auto board = harness::StartBoard();
        ASSERT_EQ(download_test::Download(*board, dataFile, {"--report", report}).exitStatus, 0);
    }
    std::string copy = harness::WriteTempFile("", "copy.jsonl");
    std::filesystem::copy_file(report, copy, std::filesystem::copy_options::overwrite_existing);

    const harness::ProcessResult first = Forward(report, database);
    EXPECT_EQ(first.exitStatus, 0) << harness::Describe(first);
    EXPECT_EQ(first.out, "Parsed command line: --forward-records --report " + report +
                             " --report-db " + database + "\n" + ForwardedLine(2, 0, 0));
    EXPECT_EQ(first.err, "");
    for (const std::string& again : {report, copy}) {
        const harness::ProcessResult result = Forward(again, database);
        EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
        EXPECT_EQ(download_test::Lines(result.out).back(), ForwardedLine(0, 2, 0));
        EXPECT_EQ(result.err, "");
    }
    EXPECT_EQ(TableIds("twice"), FileIds({report}));
}

TEST_F(FactoryDatabase, LinesThatCannotGoAreSaidWithTheirPlaceAndNeverBlockTheRest) {
    SKIP_UNDER_WINE("the Windows build has no PostgreSQL client");
    const std::string database = server->Address("garbage");
    std::string content =
        EarlierRecord(1) + "\n" + "garbage in the middle\n" + EarlierRecord(2, "no time") + "\n" +
        R"({"version":"1.3","mode":"download"})" + "\n" + EarlierRecord(3) + "\r\n";
    for (int i = 0; i < 22; ++i) {
        content += "noise " + std::to_string(i) + "\n";
    }
    content += EarlierRecord(4) + "\n" + R"({"version":"1.3","started":"2026-12-01T)";
    const std::string report = harness::WriteTempFile(content, "garbage.jsonl");

    const harness::ProcessResult result = Forward(report, database);
    EXPECT_EQ(result.exitStatus, 1) << "a complete record was refused";
    EXPECT_EQ(download_test::Lines(result.out).back(), ForwardedLine(3, 0, 25));
    std::vector<std::string> expected = {
        report + ":2: not a record (not JSON): not forwarded\n",
        report +
            ":3: the database refused the record: invalid input syntax for type timestamp "
            "with time zone: \"no time\"\n",
        report + ":4: not a record (it has no outcome): not forwarded\n"};
    for (int i = 0; i < 17; ++i) {
        expected.push_back(report + ":" + std::to_string(6 + i) +
                           ": not a record (not JSON): not forwarded\n");
    }
    expected.push_back("... and 5 more lines\n");
    EXPECT_EQ(download_test::Lines(result.err), expected);

    std::vector<std::string> stored = {IdOfLine(EarlierRecord(1)), IdOfLine(EarlierRecord(3)),
                                       IdOfLine(EarlierRecord(4))};
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(TableIds("garbage"), stored);
    // The line with its CR LF is stored without it, as the others.
    EXPECT_EQ(server->Query("garbage",
                            "SELECT run_id FROM vantoir_records WHERE record->>'run_id' "
                            "= 'old-3' AND record_id = '" +
                                IdOfLine(EarlierRecord(3)) + "'"),
              "old-3\n");
}

TEST_F(FactoryDatabase, TwoForwardsAtOnceWhileAGangAppendsStoreEveryRecordOnce) {
    SKIP_UNDER_WINE("the Windows build has no PostgreSQL client");
    const std::string database = server->Address("crowd");
    const std::string report = NewReportPath();
    std::vector<std::unique_ptr<sim::Board>> boards;
    const std::unique_ptr<harness::ChildProcess> gang =
        factory_test::StartStaggeredGang(report, database, 300, boards);
    int pairs = 0;
    do {
        harness::ProcessOptions forward;
        forward.args = {"--forward-records", "--report", report, "--report-db", database};
        harness::ChildProcess one(forward);
        harness::ChildProcess two(forward);
        for (harness::ChildProcess* run : {&one, &two}) {
            const harness::ProcessResult result = run->Wait(kRunGuardMs);
            EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
            EXPECT_EQ(result.err, "");
        }
        ++pairs;
    } while (!gang->Exited());
    const harness::ProcessResult ended = gang->Wait(kRunGuardMs);
    EXPECT_EQ(ended.exitStatus, 0) << harness::Describe(ended);
    EXPECT_EQ(ended.err, "");
    EXPECT_GE(pairs, 1);

    const harness::ProcessResult last = Forward(report, database);
    EXPECT_EQ(download_test::Lines(last.out).back(), ForwardedLine(0, 4, 0));
    EXPECT_EQ(FileLines(report).size(), 4u);
    EXPECT_EQ(TableIds("crowd"), FileIds({report}));
}
