// A label on every board: given on the command line, asked for on standard
// input (a pipe here; a terminal in OperatorScreenTest.cpp), read from a
// scanner on a serial port of its own, and asked for every port of a gang;
// in the record (right after station), board-begin, the tally and the
// gang's summary. The real program against the simulated board.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/app/operator/OperatorTestSupport.h"
#include "tests/serial/PseudoTerminal.h"

namespace {

using namespace operator_test;
using download_test::kPrompt;
using report_test::OnlyRecord;
using report_test::ReadRecords;

std::string TallyLine(int number, const std::string& label, int complete) {
    return "Board " + std::to_string(number) + " (label " + label +
           "): complete. Boards so far: " + std::to_string(complete) + " complete, 0 failed.\n";
}

// The word after port on its row of the gang's summary.
std::string SummaryWordAfter(const std::string& out, const std::string& port) {
    const size_t summary = out.find("Gang summary:\n");
    const size_t row = out.find("\n" + port + " ", summary);
    if (summary == std::string::npos || row == std::string::npos) {
        return std::string();
    }
    const size_t word = out.find_first_not_of(' ', row + 1 + port.size());
    return out.substr(word, out.find(' ', word) - word);
}

// The record's line as written, for the keys' order.
std::string FirstLine(const std::string& path) {
    const std::string text = FileText(path);
    return text.substr(0, text.find('\n'));
}

class Labels : public ::testing::Test {
  protected:
    std::vector<std::string> Args(sim::Board& board, std::vector<std::string> extra) {
        std::vector<std::string> args = {
            "-P", harness::PortName(board), "-F", dataFile, "--report", report, "--events", events};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    std::string dataFile = harness::WriteTempFile(harness::SampleHex(5));
    std::string report = harness::WriteTempFile("", "r") + ".jsonl";
    std::string events = harness::WriteTempFile("", "e") + ".jsonl";
};

// The record binds the label to the board's number; the ledger is as it
// always was.
TEST_F(Labels, AGivenLabelIsInTheRecordAfterTheStationAndInBoardBegin) {
    auto board = harness::StartBoard();
    const std::string ledger = harness::WriteTempFile("", "ledger.jsonl");
    const harness::ProcessResult result = harness::RunVantoir(
        Args(*board, {"--label", "SN 000123", "--station", "bay 2", "--stamp", "0x0000:u16le",
                      "--stamp-ledger", ledger, "--stamp-overwrite"}),
        kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err, "");
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["label"], "SN 000123");
    EXPECT_EQ(record["stamp"]["value"], 1);
    EXPECT_NE(FirstLine(report).find("\"station\":\"bay 2\",\"label\":\"SN 000123\","),
              std::string::npos)
        << FirstLine(report);
    const std::vector<Json> begins = EventsNamed(events, "board-begin");
    ASSERT_EQ(begins.size(), 1u);
    EXPECT_EQ(begins[0]["label"], "SN 000123");
    ExpectEventsValid(events);
    for (const Json& line : ReadRecords(ledger)) {
        EXPECT_FALSE(line.contains("label")) << line;
    }
}

// Three labels on a pipe, with an empty line and a refused label between
// them; the end of the input then ends the run before a fourth board.
TEST_F(Labels, FromAPipeEachBoardOfARepeatRunGetsItsOwnUntilTheInputEnds) {
    auto board = harness::StartBoard();
    harness::ProcessOptions options;
    options.args = Args(*board, {"--repeat", "--ask-label", "--label-pattern", "SN-[0-9]+"});
    options.inputKind = harness::InputKind::Pipe;
    options.input = "SN-1\n\r\nbad\n  SN-22 \r\nSN-3";
    harness::ChildProcess child(options);
    PowerCycleAfterEachBoard(*board, child, 3, [](int number) {
        return TallyLine(number, number == 2 ? "SN-22" : "SN-" + std::to_string(number), number);
    });
    const harness::ProcessResult result = child.Wait(kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err, "Label \"bad\" does not match --label-pattern SN-[0-9]+\n");
    const std::string echo = download_test::EchoLine(options.args);
    EXPECT_EQ(result.out.compare(0, echo.size() + 23, echo + "Label of board 1: SN-1\n"), 0)
        << result.out;
    EXPECT_NE(result.out.find(TallyLine(1, "SN-1", 1) +
                              "Label of board 2: \nLabel of board 2: "
                              "bad\nLabel of board 2:   SN-22 \n" +
                              TakeAwayLine(1)),
              std::string::npos)
        << result.out;
    const std::string end =
        TallyLine(3, "SN-3", 3) + "Label of board 4: \nBoards in all: 3 complete, 0 failed.\n";
    EXPECT_EQ(result.out.substr(result.out.size() - std::min(end.size(), result.out.size())), end);
    const std::vector<Json> records = ReadRecords(report);
    ASSERT_EQ(records.size(), 3u);
    const std::vector<std::string> labels = {"SN-1", "SN-22", "SN-3"};
    const std::vector<Json> begins = EventsNamed(events, "board-begin");
    ASSERT_EQ(begins.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i]["label"], labels[i]);
        EXPECT_EQ(records[i]["board_number"], i + 1);
        EXPECT_EQ(begins[i]["label"], labels[i]);
    }
    ExpectEventsValid(events);
}

// Nothing on standard input: no port is opened, and the record says why.
TEST_F(Labels, ASingleBoardWhoseLabelNeverCameEndsNoLabelWithoutOpeningThePort) {
    auto board = harness::StartBoard();
    const harness::ProcessResult result =
        harness::RunVantoir(Args(*board, {"--ask-label"}), kGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, "No label: standard input ended before the board's label came\n");
    EXPECT_NE(result.out.find("Label of the board: \n"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find(kPrompt), std::string::npos) << result.out;
    EXPECT_EQ(board->Received(), "");
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "no-label");
    EXPECT_EQ(record["exit_status"], 1);
    EXPECT_TRUE(record["label"].is_null());
    EXPECT_TRUE(record["device"].is_null()) << "no port opened";
    EXPECT_EQ(record["error"], "No label: standard input ended before the board's label came");
    const std::vector<Json> ends = EventsNamed(events, "board-end");
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0]["outcome"], "no-label");
    ExpectEventsValid(events);
}

// With a --repeat run the same end comes in order, before the first board.
TEST_F(Labels, ARepeatRunWithoutAnyLabelEndsWithItsTallyBeforeThePortIsOpened) {
    auto board = harness::StartBoard();
    const harness::ProcessResult result =
        harness::RunVantoir(Args(*board, {"--repeat", "--ask-label"}), kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err, "");
    EXPECT_NE(result.out.find("Label of board 1: \nBoards in all: 0 complete, 0 failed.\n"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(board->Received(), "");
    EXPECT_TRUE(ReadRecords(report).empty());
}

// A scanner on a serial port of its own: a second pseudo-terminal, written
// by the test as a scanner sends (CR LF after each label).
TEST_F(Labels, FromAScannerOnItsOwnSerialPort) {
    SKIP_UNDER_WINE("the scanner is a pseudo-terminal of the test's own, no COM port");
    PseudoTerminal scanner;
    ASSERT_TRUE(scanner.Ready());
    auto board = harness::StartBoard();
    harness::ProcessOptions options;
    options.args = Args(*board, {"--label-from", scanner.SlavePath(), "--label-baud", "19200",
                                 "--label-pattern", "SN-[0-9]+"});
    harness::ChildProcess child(options);
    ASSERT_TRUE(child.WaitForStdout("Label of the board: ", kGuardMs)) << child.Stdout();
    EXPECT_EQ(board->Received(), "") << "the label comes before the port is opened";
    ASSERT_TRUE(scanner.Send("\r\nX-1\r\n  SN-77\r\n"));
    const harness::ProcessResult result = child.Wait(kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err, "Label \"X-1\" does not match --label-pattern SN-[0-9]+\n");
    EXPECT_NE(result.out.find("Label of the board: \nLabel of the board: X-1\n"
                              "Label of the board:   SN-77\n" +
                              kPrompt),
              std::string::npos)
        << result.out;
    EXPECT_EQ(OnlyRecord(report)["label"], "SN-77");
}

// A gang asks every port's label, naming the port, in the order of its
// list, before any port starts; each run gets its own.
TEST(LabelsOfAGang, EveryPortsLabelIsAskedBeforeAnyPortStarts) {
    std::vector<std::unique_ptr<sim::Board>> boards;
    std::string list;
    for (int i = 0; i < 3; ++i) {
        boards.push_back(harness::StartBoard());
        list += (i == 0 ? "" : ",") + harness::PortName(*boards.back());
    }
    const std::string report = harness::WriteTempFile("", "r") + ".jsonl";
    const std::string events = harness::WriteTempFile("", "e") + ".jsonl";
    harness::ProcessOptions options;
    options.args = {"--gang",     list,   "-F",       harness::WriteTempFile(harness::SampleHex(5)),
                    "--report",   report, "--events", events,
                    "--ask-label"};
    options.inputKind = harness::InputKind::Pipe;
    options.input = "L-A\nL-B\nL-C\n";
    const harness::ProcessResult result = harness::Run(options, kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    std::string questions;
    for (int i = 0; i < 3; ++i) {
        questions += "Label of the board on " + harness::PortName(*boards[i]) + ": L-" +
                     std::string(1, static_cast<char>('A' + i)) + "\n";
    }
    EXPECT_NE(result.out.find(questions + kPrompt), std::string::npos) << result.out;
    const std::vector<Json> records = ReadRecords(report);
    ASSERT_EQ(records.size(), 3u);
    for (const Json& record : records) {
        const size_t port =
            static_cast<size_t>(std::find_if(boards.begin(), boards.end(),
                                             [&](const auto& board) {
                                                 return harness::PortName(*board) == record["port"];
                                             }) -
                                boards.begin());
        ASSERT_LT(port, 3u) << record;
        EXPECT_EQ(record["label"], "L-" + std::string(1, static_cast<char>('A' + port)));
    }
    EXPECT_EQ(EventsNamed(events, "board-begin").size(), 3u);
    ExpectEventsValid(events);
    // The summary has the labels beside the ports.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(SummaryWordAfter(result.out, harness::PortName(*boards[i])),
                  "L-" + std::string(1, static_cast<char>('A' + i)))
            << result.out;
    }
    EXPECT_NE(result.out.find("Gang summary:\nPort"), std::string::npos);
}

// Input that ends before every port has its label: no run starts, and
// every port has its record.
TEST(LabelsOfAGang, OneWhoseLabelsNeverCameStartsNoRun) {
    auto first = harness::StartBoard();
    auto second = harness::StartBoard();
    const std::string report = harness::WriteTempFile("", "r") + ".jsonl";
    harness::ProcessOptions options;
    options.args = {"--gang",     harness::PortName(*first) + "," + harness::PortName(*second),
                    "-F",         harness::WriteTempFile(harness::SampleHex(5)),
                    "--report",   report,
                    "--ask-label"};
    options.inputKind = harness::InputKind::Pipe;
    options.input = "L-A\n";
    // Each port's board is signalled to the fixture all the same.
    const std::string said = harness::WriteTempFile("", "said");
    if (!harness::RunsWindowsBuild()) {
        options.args.insert(
            options.args.end(),
            {"--result-command", "echo \"$VANTOIR_OUTCOME $VANTOIR_LABEL.\" >> '" + said + "'"});
    }
    const harness::ProcessResult result = harness::Run(options, kGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, "No label: standard input ended before the board's label came\n");
    EXPECT_EQ(result.out.find(kPrompt), std::string::npos) << result.out;
    EXPECT_EQ(first->Received(), "");
    EXPECT_EQ(second->Received(), "");
    const std::vector<Json> records = ReadRecords(report);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["label"], "L-A");
    EXPECT_TRUE(records[1]["label"].is_null());
    for (const Json& record : records) {
        EXPECT_EQ(record["outcome"], "no-label");
        EXPECT_EQ(record["exit_status"], 1);
    }
    if (!harness::RunsWindowsBuild()) {
        EXPECT_EQ(FileText(said), "no-label L-A.\nno-label .\n");
    }
}

// Refused on the command line, before anything is opened: status 1, the
// reason on standard error, nothing on standard output.
TEST(LabelsRefused, WhereTheyCannotBeUsedOrDoNotMatch) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--label", "A", "--repeat"},
         "Switch --label gives the label of one board: it cannot be used with --repeat\n"},
        {{"--label", "A", "--boards", "2"},
         "Switch --label gives the label of one board: it cannot be used with --boards\n"},
        {{"--label", "A", "--ask-label"},
         "Switch --label gives the label: it cannot be used with --ask-label\n"},
        {{"--label", " "}, "Invalid value for switch --label:  \n"},
        {{"--ask-label", "--gang", "/dev/a,/dev/b", "--boards", "2"},
         "Switch --ask-label asks a gang's labels once, before its ports start: it cannot be "
         "used with --gang and --boards\n"},
        {{"--label-baud", "9600", "--ask-label"}, "Switch --label-baud needs --label-from\n"},
        {{"--label-pattern", "SN.*"},
         "Switch --label-pattern needs --label, --ask-label or --label-from\n"},
        {{"--label-pattern", "SN[0-9"}, "Invalid value for switch --label-pattern: SN[0-9\n"},
        {{"--label", "SN-12x", "--label-pattern", "SN-[0-9]+"},
         "Label \"SN-12x\" does not match --label-pattern SN-[0-9]+\n"},
        {{"-C", "--ask-label"}, "Switch --ask-label downloads only: it cannot be used with -C\n"},
        {{"--operator-screen", "--events", "-"},
         "Switch --events - fills standard output with events: it cannot be used with "
         "--operator-screen\n"},
    };
    for (const auto& [line, err] : cases) {
        std::vector<std::string> args = {"-F", "x.hex"};
        args.insert(args.end(), line.begin(), line.end());
        const harness::ProcessResult result = harness::RunVantoir(args, kGuardMs);
        EXPECT_EQ(result.exitStatus, 1) << line[0];
        EXPECT_EQ(result.out, "") << line[0];
        EXPECT_EQ(result.err, err);
    }
}

}  // namespace
