// --stamp and what the image holds at the field: a number is written only
// where the image leaves room for it (all 0xFF or all 0x00), never over code
// or data, unless --stamp-overwrite says so.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/HexRecord.h"
#include "tests/app/report/ReportRecords.h"
#include "tests/app/stamp/StampTestSupport.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"

namespace {

using download_test::kRunGuardMs;
using stamp_test::Json;
using stamp_test::LedgerLines;
using stamp_test::Memory;
using stamp_test::RecordLines;

// The bytes the image holds at first to last, as a finding shows them.
std::string HeldBytes(const std::string& content, uint32_t first, uint32_t last) {
    const auto memory = Memory(RecordLines(content));
    std::string text;
    for (uint32_t address = first; address <= last; ++address) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02X", memory.at(address));
        text += (text.empty() ? "" : " ") + std::string(byte);
    }
    return text;
}

std::vector<std::string> StampArgs(const std::string& port, const std::string& dataFile,
                                   const std::string& ledger, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {
        "-P", port, "-F", dataFile, "--stamp", "0x1E:u32le", "--stamp-ledger", ledger};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

}  // namespace

TEST(StampField, ANumberIsNeverWrittenOverCodeTheImageIsRefusedWithWhatIsThere) {
    const std::string content = harness::SampleHex(30);
    const std::string dataFile = harness::WriteTempFile(content);
    const std::string ledger = harness::WriteTempFile("", "ledger.jsonl");
    const std::string report = harness::WriteTempFile("", "report.jsonl");
    auto board = harness::StartBoard();
    const std::vector<std::string> args =
        StampArgs(harness::PortName(*board), dataFile, ledger, {"--report", report});

    const harness::ProcessResult result = harness::RunVantoir(args, kRunGuardMs);

    const std::string finding = dataFile + ":2: the stamp field at 0x0000001E-0x00000021 holds " +
                                HeldBytes(content, 0x1E, 0x21) +
                                ", not all FF nor all 00: it is not overwritten without "
                                "--stamp-overwrite";
    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.out, download_test::EchoLine(args));
    EXPECT_EQ(result.err, finding + "\n" + dataFile + ": image refused: 1 finding\n");
    EXPECT_EQ(board->Received(), "");
    EXPECT_EQ(LedgerLines(ledger).size(), 0u);
    const Json record = report_test::OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "image-refused");
    EXPECT_EQ(record["findings"], Json::array({finding}));
    EXPECT_EQ(record["error"], dataFile + ": image refused: 1 finding");
    EXPECT_EQ(record["exit_status"], 1);
    EXPECT_EQ(record["records_sent"], 0);
}

TEST(StampField, AZeroedPlaceholderIsStampedAsAnErasedOneIs) {
    const std::string content = stamp_test::BlankedHex(harness::SampleHex(30), 0x1E, 0x21, "00");
    const std::string dataFile = harness::WriteTempFile(content);
    const std::string ledger = harness::WriteTempFile("", "ledger.jsonl");
    auto board = harness::StartBoard();

    const harness::ProcessResult result = harness::RunVantoir(
        StampArgs(harness::PortName(*board), dataFile, ledger, {"--stamp-start", "258"}),
        kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));
    EXPECT_EQ(HeldBytes(board->Received(), 0x1E, 0x21), "02 01 00 00");
}

TEST(StampField, AGangWhoseFieldIsNotBlankStartsNoRunAndEachPortGetsItsRecord) {
    const std::string content = harness::SampleHex(30);
    const std::string dataFile = harness::WriteTempFile(content);
    const std::string ledger = harness::WriteTempFile("", "ledger.jsonl");
    const std::string report = harness::WriteTempFile("", "report.jsonl");
    auto first = harness::StartBoard();
    auto second = harness::StartBoard();
    const std::string ports = harness::PortName(*first) + "," + harness::PortName(*second);

    const harness::ProcessResult result =
        harness::RunVantoir({"--gang", ports, "-F", dataFile, "--stamp", "0x1E:u32le",
                             "--stamp-ledger", ledger, "--report", report},
                            kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, dataFile + ":2: the stamp field at 0x0000001E-0x00000021 holds " +
                              HeldBytes(content, 0x1E, 0x21) +
                              ", not all FF nor all 00: it is not overwritten without "
                              "--stamp-overwrite\n" +
                              dataFile + ": image refused: 1 finding\n");
    EXPECT_EQ(first->Received(), "");
    EXPECT_EQ(second->Received(), "");
    const std::vector<Json> records = report_test::ReadRecords(report);
    ASSERT_EQ(records.size(), 2u);
    for (const Json& record : records) {
        EXPECT_EQ(record["outcome"], "image-refused");
        EXPECT_EQ(record["findings"].size(), 1u);
    }
}

TEST(StampField, OverwriteStampsAFieldThatIsNotBlankAndNeedsStamp) {
    const std::string content = harness::SampleHex(30);
    const std::string dataFile = harness::WriteTempFile(content);
    const std::string ledger = harness::WriteTempFile("", "ledger.jsonl");
    auto board = harness::StartBoard();

    const harness::ProcessResult result =
        harness::RunVantoir(StampArgs(harness::PortName(*board), dataFile, ledger,
                                      {"--stamp-overwrite", "--stamp-start", "258"}),
                            kRunGuardMs);
    const harness::ProcessResult alone = harness::RunVantoir(
        {"-P", harness::PortName(*board), "-F", dataFile, "--stamp-overwrite"}, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err, "");
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));
    EXPECT_EQ(HeldBytes(board->Received(), 0x1E, 0x21), "02 01 00 00");
    EXPECT_EQ(alone.exitStatus, 1) << harness::Describe(alone);
    EXPECT_EQ(alone.err, "--stamp-overwrite is given without --stamp\n");
}

// An image whose addresses count 16-bit words: the field's address is a
// word's (0x0F: bytes 0x1E and 0x1F of the image), and what it holds is
// said by word addresses.
TEST(StampField, InAnImageAddressedInWordsTheAddressIsAWords) {
    std::vector<std::string> records;
    for (uint16_t word = 0; word < 32; word += 8) {
        std::vector<uint8_t> data(16, 0x5A);
        if (word == 8) {
            data[14] = data[15] = 0xFF;
        } else if (word == 16) {
            data[0] = data[1] = 0xFF;
        }
        records.push_back(sim::FormatRecord(word, 0, data));
    }
    std::string content;
    for (const std::string& record : records) {
        content += record + "\n";
    }
    const std::string dataFile = harness::WriteTempFile(content + ":00000001FF\n");
    const std::string ledger = harness::WriteTempFile("", "ledger.jsonl");
    auto board = harness::StartBoard();
    std::vector<std::string> args = {"-P",
                                     harness::PortName(*board),
                                     "-F",
                                     dataFile,
                                     "--stamp",
                                     "0x0F:u32le",
                                     "--stamp-ledger",
                                     ledger,
                                     "--stamp-start",
                                     "67305985",
                                     "--word-size",
                                     "16"};

    const harness::ProcessResult result = harness::RunVantoir(args, kRunGuardMs);
    args[5] = "0x0E:u32le";
    const harness::ProcessResult code = harness::RunVantoir(args, kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_NE(result.out.find("Stamp 67305985 reserved for 0x0000000F (u32le)\n"),
              std::string::npos)
        << result.out;
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));
    const std::vector<std::string> got = RecordLines(board->Received());
    ASSERT_EQ(got.size(), 5u);
    // 67305985 is 0x04030201.
    std::vector<uint8_t> second(16, 0x5A);
    second[14] = 0x01;
    second[15] = 0x02;
    std::vector<uint8_t> third(16, 0x5A);
    third[0] = 0x03;
    third[1] = 0x04;
    EXPECT_EQ(got, (std::vector<std::string>{records[0], sim::FormatRecord(8, 0, second),
                                             sim::FormatRecord(16, 0, third), records[3],
                                             ":00000001FF"}));
    EXPECT_EQ(code.exitStatus, 1) << harness::Describe(code);
    EXPECT_EQ(code.err, dataFile +
                            ":2: the stamp field at 0x0000000E-0x0000000F holds 5A 5A FF FF, not "
                            "all FF nor all 00: it is not overwritten without --stamp-overwrite\n" +
                            dataFile + ": image refused: 1 finding\n");
}
