// Refused stamp switches are refusals of the command line: like every other,
// they end the run before anything is opened and leave no record behind.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/report/ReportRecords.h"
#include "tests/support/Harness.h"

namespace {

constexpr int kGuardMs = 60000;

TEST(StampRefused, ASwitchRefusedWritesNoRecord) {
    auto board = harness::StartBoard();
    const std::string dataFile = harness::WriteTempFile(harness::SampleHex(30));
    const std::string ledger = harness::WriteTempFile("", "ledger.jsonl");
    const std::vector<std::vector<std::string>> refused = {
        {"--stamp", "0x1000:u24le", "--stamp-ledger", ledger},
        {"--stamp", "0x1E:u16le", "--stamp-ledger", ledger, "--stamp-start", "0x01020304"},
        {"--stamp", "0x1E:u32le", "--stamp-ledger", ledger, "--stamp-step", "0"},
        {"--stamp", "0x1E:u32le"},
        {"--stamp", "0x1E:u32le", "--stamp-ledger", ledger, "-C"},
        {"--stamp-ledger", ledger},
    };
    for (const std::vector<std::string>& stamp : refused) {
        const std::string report = harness::WriteTempFile("", "r") + ".jsonl";
        std::vector<std::string> args = {"-P", harness::PortName(*board), "-F", dataFile,
                                         "--report", report};
        args.insert(args.end(), stamp.begin(), stamp.end());
        const harness::ProcessResult result = harness::RunVantoir(args, kGuardMs);
        EXPECT_EQ(result.exitStatus, 1) << stamp[1] << harness::Describe(result);
        EXPECT_NE(result.err, "") << stamp[1];
        EXPECT_TRUE(report_test::ReadRecords(report).empty()) << stamp[1];
    }
    EXPECT_EQ(board->Received(), "");
}

}  // namespace
