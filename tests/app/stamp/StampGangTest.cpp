// --stamp in a gang: every port's run reserves its own number from the one
// ledger, and the gang's summary shows which board got which.

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/stamp/StampTestSupport.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"

namespace {

using download_test::kRunGuardMs;
using stamp_test::Json;
using stamp_test::LedgerLines;
using stamp_test::Memory;
using stamp_test::RecordLines;

}  // namespace

TEST(StampGang, FourPortsTakeFourDifferentNumbersAndTheSummarySaysWhich) {
    const std::string content = stamp_test::BlankedHex(harness::SampleHex(40), 0x40, 0x43);
    const std::string dataFile = harness::WriteTempFile(content);
    const std::string ledger = harness::WriteTempFile("", "ledger.jsonl");
    std::vector<std::unique_ptr<sim::Board>> boards;
    std::string list;
    for (int i = 0; i < 4; ++i) {
        boards.push_back(harness::StartBoard());
        list += (i == 0 ? "" : ",") + harness::PortName(*boards.back());
    }
    const harness::ProcessResult result = harness::RunVantoir(
        {"--gang", list, "-F", dataFile, "--stamp", "0x40:ascii:4", "--stamp-ledger", ledger,
         "--stamp-start", "7000", "--run-id", "lot9", "--station", "S2"},
        kRunGuardMs);
    ASSERT_EQ(result.exitStatus, 0) << harness::Describe(result);

    // Each board holds the number its port's summary row names.
    std::set<std::string> stamps;
    const std::string summary = result.out.substr(result.out.find("Gang summary:\n"));
    for (size_t i = 0; i < boards.size(); ++i) {
        ASSERT_TRUE(boards[i]->WaitForStart(kRunGuardMs));
        const auto memory = Memory(RecordLines(boards[i]->Received()));
        const std::string stamp = {static_cast<char>(memory.at(0x40)),
                                   static_cast<char>(memory.at(0x41)),
                                   static_cast<char>(memory.at(0x42)),
                                   static_cast<char>(memory.at(0x43))};
        stamps.insert(stamp);
        const size_t row = summary.find(harness::PortName(*boards[i]) + " ");
        ASSERT_NE(row, std::string::npos) << summary;
        const std::string line = summary.substr(row, summary.find('\n', row) - row);
        EXPECT_EQ(line.substr(line.rfind(' ') + 1), std::to_string(std::stoi(stamp))) << line;
    }
    EXPECT_EQ(stamps, (std::set<std::string>{"7000", "7001", "7002", "7003"}));
    EXPECT_NE(summary.find("Records  Seconds  Stamp\n"), std::string::npos) << summary;
    // Each port's run names itself for its port, in both of its lines.
    const std::vector<Json> lines = LedgerLines(ledger);
    EXPECT_EQ(lines.size(), 8u);
    for (const Json& line : lines) {
        EXPECT_EQ(line["run_id"], "lot9@" + line["port"].get<std::string>()) << line;
        EXPECT_EQ(line["station"], "S2") << line;
    }
}
