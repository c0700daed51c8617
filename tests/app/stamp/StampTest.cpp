// --stamp with a ledger file: the real program against simulated boards.
// Each board gets a number of its own, written into the record lines that
// cover the field (and only there), and no number is ever handed out twice:
// not after a failed board, not after a killed run, not to runs at once.

#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/app/report/ReportRecords.h"
#include "tests/app/stamp/StampTestSupport.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"

namespace {

using download_test::kPrompt;
using download_test::kRunGuardMs;
using stamp_test::Json;
using stamp_test::LedgerLines;
using stamp_test::Memory;
using stamp_test::RecordLines;

// A field across the second and third records of a sample image (16 bytes
// each, from address 0), which are blank.
const std::string kField = "0x1E:u32le";

struct Station {
    std::string content = stamp_test::BlankedHex(harness::SampleHex(30), 0x10, 0x2F);
    std::string dataFile = harness::WriteTempFile(content);
    std::string ledger = harness::WriteTempFile("", "ledger.jsonl");

    std::vector<std::string> Args(const sim::Board& board, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {
            "-P",   harness::PortName(board), "-F",  dataFile, "--stamp",
            kField, "--stamp-ledger",         ledger};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
};

std::string Reserved(uint64_t value) {
    return "Stamp " + std::to_string(value) + " reserved for 0x0000001E (u32le)\n";
}

// The values of the ledger's lines of state.
std::vector<uint64_t> Values(const std::vector<Json>& lines, const std::string& state) {
    std::vector<uint64_t> values;
    for (const Json& line : lines) {
        if (line["state"] == state) {
            values.push_back(line["value"].get<uint64_t>());
        }
    }
    return values;
}

// What the board must hold: the file's memory with the field set to value.
// download: which of the downloads the board received (0 for the first).
void ExpectStamped(const std::string& content, const std::string& received, uint32_t value,
                   size_t download = 0) {
    const std::vector<std::string> sent = RecordLines(content);
    std::vector<std::string> got = RecordLines(received);
    ASSERT_GE(got.size(), sent.size() * (download + 1));
    got.erase(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(sent.size() * download));
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        if (i != 1 && i != 2) {
            EXPECT_EQ(got[i], sent[i]) << "line " << i;
        }
    }
    std::map<uint32_t, uint8_t> expected = Memory(sent);
    for (uint32_t i = 0; i < 4; ++i) {
        expected[0x1E + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    EXPECT_EQ(Memory(got), expected);
}

}  // namespace

TEST(Stamp, TheBoardGetsTheFilesLinesWithTheValueInTheFieldsRecords) {
    Station station;
    auto board = harness::StartBoard();
    const std::string report = harness::WriteTempFile("", "report.jsonl");
    const harness::ProcessResult result = harness::RunVantoir(
        station.Args(*board, {"--report", report, "--stamp-start", "305419896", "--run-id",
                              "shift-2 run 7", "--station", "line 1, station \"B\""}),
        kRunGuardMs);

    ASSERT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err, "");
    EXPECT_NE(result.out.find("Established communication: KELVOR DSP boot loader 2.4\n" +
                              Reserved(305419896) + "Start uploading file...\n"),
              std::string::npos)
        << result.out;
    ASSERT_TRUE(board->WaitForStart(kRunGuardMs));
    ExpectStamped(station.content, board->Received(), 305419896);
    // The file itself is never changed.
    std::ifstream file(station.dataFile, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), station.content);

    const std::vector<Json> lines = LedgerLines(station.ledger);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["state"], "reserved");
    EXPECT_EQ(lines[0]["value"], 305419896);
    EXPECT_EQ(lines[0]["port"], harness::PortName(*board));
    EXPECT_TRUE(lines[0]["board_number"].is_null());
    EXPECT_FALSE(lines[0].contains("outcome"));
    EXPECT_EQ(lines[1]["state"], "used");
    EXPECT_EQ(lines[1]["outcome"], "complete");
    for (const Json& line : lines) {
        EXPECT_EQ(line["run_id"], "shift-2 run 7");
        EXPECT_EQ(line["station"], "line 1, station \"B\"");
    }
    const Json record = report_test::OnlyRecord(report);
    EXPECT_EQ(record["stamp"],
              (Json{{"value", 305419896}, {"address", 0x1E}, {"format", "u32le"},
                    {"ledger", station.ledger}}));
}

TEST(Stamp, BoardAfterBoardEachGetsTheNextNumberAndTheTallySaysWhich) {
    Station station;
    auto board = harness::StartBoard();
    harness::ProcessOptions options;
    options.args = station.Args(*board, {"--boards", "3", "--stamp-start", "40"});
    harness::ChildProcess child(options);
    for (int number = 1; number <= 3; ++number) {
        const std::string tally = "Board " + std::to_string(number) + " (stamp " +
                                  std::to_string(39 + number) + "): complete.";
        ASSERT_TRUE(child.WaitForStdout(tally, kRunGuardMs)) << child.Stdout();
        ExpectStamped(station.content, board->Received(), static_cast<uint32_t>(39 + number),
                      static_cast<size_t>(number - 1));
        if (number < 3) {
            board->SetPowered(false);
            ASSERT_TRUE(child.WaitForStdout(tally + " Boards so far: " + std::to_string(number) +
                                                " complete, 0 failed.\nTake board " +
                                                std::to_string(number) +
                                                " away (or switch it off); the next board is "
                                                "awaited once the line is quiet.\n" + kPrompt,
                                            kRunGuardMs));
            board->SetPowered(true);
        }
    }
    const harness::ProcessResult result = child.Wait(kRunGuardMs);
    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    const std::vector<Json> lines = LedgerLines(station.ledger);
    EXPECT_EQ(Values(lines, "reserved"), (std::vector<uint64_t>{40, 41, 42}));
    EXPECT_EQ(Values(lines, "used"), (std::vector<uint64_t>{40, 41, 42}));
    EXPECT_EQ(lines[4]["board_number"], 3);
}

TEST(Stamp, AFailedBoardsNumberIsNeverUsedAgain) {
    Station station;
    sim::BoardConfig miscounting;
    miscounting.countOffset = 1;
    auto bad = harness::StartBoard(miscounting);
    const harness::ProcessResult failed = harness::RunVantoir(station.Args(*bad), kRunGuardMs);
    EXPECT_EQ(failed.exitStatus, 1) << harness::Describe(failed);

    auto good = harness::StartBoard();
    const harness::ProcessResult next = harness::RunVantoir(station.Args(*good), kRunGuardMs);
    EXPECT_EQ(next.exitStatus, 0) << harness::Describe(next);
    EXPECT_NE(next.out.find(Reserved(2)), std::string::npos) << next.out;
    ASSERT_TRUE(good->WaitForStart(kRunGuardMs));
    ExpectStamped(station.content, good->Received(), 2);

    const std::vector<Json> lines = LedgerLines(station.ledger);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1]["state"], "failed");
    EXPECT_EQ(lines[1]["outcome"], "count-mismatch");
    EXPECT_EQ(lines[1]["value"], 1);
    // A run that names neither itself nor its station, and keeps no record.
    EXPECT_TRUE(lines[1]["run_id"].is_null());
    EXPECT_TRUE(lines[1]["station"].is_null());
}

TEST(Stamp, ARunKilledAfterItsReservationLeavesANumberTheNextRunSkips) {
    Station station;
    station.content = stamp_test::BlankedHex(harness::SampleHex(3000), 0x10, 0x2F);
    station.dataFile = harness::WriteTempFile(station.content);
    sim::BoardConfig slow;
    slow.baudRate = 9600;
    auto board = harness::StartBoard(slow);
    harness::ProcessOptions options;
    options.args = station.Args(*board, {"-B", "9600"});
    harness::ChildProcess child(options);
    ASSERT_TRUE(board->WaitForRecords(5, kRunGuardMs)) << child.Stdout();
    child.Signal(SIGKILL);
    child.Wait(kRunGuardMs);
    EXPECT_EQ(Values(LedgerLines(station.ledger), "reserved"), (std::vector<uint64_t>{1}));

    // Ctrl-C after the reservation closes it as interrupted.
    auto second = harness::StartBoard(slow);
    options.args = station.Args(*second, {"-B", "9600"});
    harness::ChildProcess interrupted(options);
    ASSERT_TRUE(second->WaitForRecords(5, kRunGuardMs)) << interrupted.Stdout();
    interrupted.Signal(SIGINT);
    interrupted.Wait(kRunGuardMs);

    const std::vector<Json> lines = LedgerLines(station.ledger);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1]["value"], 2);
    EXPECT_EQ(lines[2]["value"], 2);
    EXPECT_EQ(lines[2]["state"], "interrupted");
}

TEST(Stamp, EightRunsAtOnceTakeEightDifferentNumbers) {
    Station station;
    std::vector<std::unique_ptr<sim::Board>> boards;
    std::vector<std::unique_ptr<harness::ChildProcess>> runs;
    for (int i = 0; i < 8; ++i) {
        boards.push_back(harness::StartBoard());
        harness::ProcessOptions options;
        options.args = station.Args(*boards.back());
        runs.push_back(std::make_unique<harness::ChildProcess>(options));
    }
    std::set<uint32_t> values;
    for (size_t i = 0; i < runs.size(); ++i) {
        const harness::ProcessResult result = runs[i]->Wait(kRunGuardMs);
        ASSERT_EQ(result.exitStatus, 0) << harness::Describe(result);
        const size_t at = result.out.find("Stamp ");
        ASSERT_NE(at, std::string::npos);
        const uint32_t value = static_cast<uint32_t>(std::stoul(result.out.substr(at + 6)));
        values.insert(value);
        ASSERT_TRUE(boards[i]->WaitForStart(kRunGuardMs));
        ExpectStamped(station.content, boards[i]->Received(), value);
    }
    EXPECT_EQ(values, (std::set<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    const std::vector<Json> lines = LedgerLines(station.ledger);
    EXPECT_EQ(lines.size(), 16u);
    EXPECT_EQ(Values(lines, "used").size(), 8u);
}

TEST(Stamp, WhatCannotBeStampedIsRefusedBeforeThePortIsOpened) {
    Station station;
    auto board = harness::StartBoard();
    struct Case {
        std::vector<std::string> extra;
        std::string field;
        std::string err;
    };
    const std::string broken = harness::WriteTempFile(
        "{\"value\": 1, \"state\": \"reserved\"}\n"
        "{\"value\": 2, \"state\": \"reserved\"\n",
        "broken.jsonl");
    const std::string list = harness::WriteTempFile("7\n9\n7\n", "list.txt");
    const Case cases[] = {
        {{}, "0x1000:u16le",
         station.dataFile +
             ": nothing to stamp at 0x00001000-0x00001001: the image has no data at "
             "0x00001000-0x00001001\n"},
        {{}, "0x1CC:u64be",
         station.dataFile +
             ": nothing to stamp at 0x000001CC-0x000001D3: the image has no data at "
             "0x000001D0-0x000001D3\n"},
        {{"--stamp-start", "70000"}, "0x10:u16le",
         "Invalid value for switch --stamp-start: 70000 (does not fit u16le (at most 65535))\n"},
        {{"--stamp-start", "00:1A:2B:3C:4D"}, "0x10:bytes:6",
         "Invalid value for switch --stamp-start: 00:1A:2B:3C:4D (5 bytes where bytes:6 takes "
         "6)\n"},
        {{"--stamp-last", "0"}, kField,
         station.ledger +
             ": the next number, 1, is past --stamp-last 0; no number is left for a board\n"},
        {{"--stamp-list", list}, kField, list + ":3: 7 is given already on line 1\n"},
        {{"--stamp-ledger", broken}, kField, broken + ":2: not JSON\n"},
        {{}, "x:u16le",
         "Invalid value for switch --stamp: x:u16le (the address is not a number below 4 GiB "
         "(decimal, or hexadecimal with 0x))\n"},
    };
    for (const Case& check : cases) {
        std::vector<std::string> args = {
            "-P",        harness::PortName(*board), "-F",          station.dataFile, "--stamp",
            check.field, "--stamp-ledger",          station.ledger};
        args.insert(args.end(), check.extra.begin(), check.extra.end());
        const harness::ProcessResult result = harness::RunVantoir(args, kRunGuardMs);
        EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
        EXPECT_EQ(result.err, check.err) << check.field;
        EXPECT_EQ(result.out, download_test::EchoLine(args));
    }
    EXPECT_EQ(board->Received(), "");
    EXPECT_EQ(LedgerLines(station.ledger).size(), 0u);
}

TEST(Stamp, ABrokenChecksumInTheFieldsRecordIsRefusedNotRepaired) {
    Station station;
    std::vector<std::string> lines = download_test::Lines(station.content);
    // The third record's checksum, one off.
    std::string& third = lines[2];
    const size_t at = third.size() - 3;
    third[at + 1] = third[at + 1] == '0' ? '1' : '0';
    std::string content;
    for (const std::string& line : lines) {
        content += line;
    }
    station.dataFile = harness::WriteTempFile(content);
    auto board = harness::StartBoard();
    const harness::ProcessResult result = harness::RunVantoir(station.Args(*board), kRunGuardMs);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err, station.dataFile +
                              ":3: the record that covers the stamp at 0x0000001E-0x00000021 has "
                              "a wrong checksum; it is not repaired\n");
    EXPECT_EQ(board->Received(), "");
}

TEST(Stamp, AnUnfinishedLastLedgerLineIsSaidIgnoredAndCutOff) {
    Station station;
    {
        std::ofstream ledger(station.ledger, std::ios::binary);
        ledger << "{\"value\": 5, \"state\": \"reserved\"}\n{\"value\": 6, \"sta";
    }
    auto board = harness::StartBoard();
    const harness::ProcessResult result = harness::RunVantoir(station.Args(*board), kRunGuardMs);
    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err, station.ledger +
                              ":2: the last line is unfinished (a write cut short before it was "
                              "forced to disk); it is ignored\n");
    EXPECT_NE(result.out.find(Reserved(6)), std::string::npos);
    const std::vector<Json> lines = LedgerLines(station.ledger);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1]["value"], 6);
}

TEST(Stamp, BytesCountAsOneBigEndianNumberAndAListGivesItsValuesInOrder) {
    Station station;
    const std::string mac = "0x10:bytes:6";
    auto first = harness::StartBoard();
    auto second = harness::StartBoard();
    for (sim::Board* board : {first.get(), second.get()}) {
        std::vector<std::string> args = {
            "-P", harness::PortName(*board), "-F",           station.dataFile, "--stamp",
            mac,  "--stamp-ledger",          station.ledger, "--stamp-start",  "00-1A-2B-3C-4D-FF"};
        const harness::ProcessResult result = harness::RunVantoir(args, kRunGuardMs);
        EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    }
    const std::vector<Json> lines = LedgerLines(station.ledger);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0]["value"], "00:1A:2B:3C:4D:FF");
    EXPECT_EQ(lines[2]["value"], "00:1A:2B:3C:4E:00");
    ASSERT_TRUE(second->WaitForStart(kRunGuardMs));
    const std::map<uint32_t, uint8_t> memory = Memory(RecordLines(second->Received()));
    const uint8_t expected[] = {0x00, 0x1A, 0x2B, 0x3C, 0x4E, 0x00};
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(memory.at(0x10 + i), expected[i]);
    }

    const std::string list = harness::WriteTempFile("12\n5\n30\n", "list.txt");
    const std::string listLedger = harness::WriteTempFile("{\"value\": 5, \"state\": \"used\"}\n",
                                                          "list-ledger.jsonl");
    auto third = harness::StartBoard();
    std::vector<std::string> args = {"-P", harness::PortName(*third), "-F", station.dataFile,
                                     "--stamp", "0x10:ascii:2", "--stamp-ledger", listLedger,
                                     "--stamp-list", list, "--boards", "1"};
    const harness::ProcessResult listed = harness::RunVantoir(args, kRunGuardMs);
    EXPECT_EQ(listed.exitStatus, 0) << harness::Describe(listed);
    EXPECT_NE(listed.out.find("Board 1 (stamp 12): complete."), std::string::npos);
    // 12 taken, 5 named already: 30 is next, the last one.
    auto fourth = harness::StartBoard();
    args[1] = harness::PortName(*fourth);
    EXPECT_EQ(harness::RunVantoir(args, kRunGuardMs).exitStatus, 0);
    args[1] = harness::PortName(*third);
    const harness::ProcessResult usedUp = harness::RunVantoir(args, kRunGuardMs);
    EXPECT_EQ(usedUp.exitStatus, 1);
    EXPECT_EQ(usedUp.err,
              list + ": every value of the list is reserved already; no number is left for a "
                     "board\n");
    ASSERT_TRUE(fourth->WaitForStart(kRunGuardMs));
    const std::map<uint32_t, uint8_t> ascii = Memory(RecordLines(fourth->Received()));
    EXPECT_EQ(ascii.at(0x10), '3');
    EXPECT_EQ(ascii.at(0x11), '0');
}
