// A gang of ports, the real program against several simulated boards: every
// port gets its own download in a run of its own, its lines marked with its
// name, and the summary says how each ended; one failing board leaves the
// others untouched.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/gang/GangTestSupport.h"
#include "tests/app/report/ReportRecords.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"

namespace {

using download_test::kPrompt;
using download_test::kRunGuardMs;

using gang_test::Gang;
using gang_test::kIdentity;
using gang_test::OwnLines;
using gang_test::ReceivedOwnDownload;
using gang_test::Row;
using gang_test::SummaryRows;

TEST(Gang, OneFailingBoardLeavesTheOthersCompleteAndTheStatusIsOne) {
    sim::BoardConfig wrongCount;
    wrongCount.countOffset = 1;
    Gang gang({{}, wrongCount, {}});

    harness::ProcessResult result = harness::RunVantoir(gang.Args(), kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind(download_test::EchoLine(gang.Args()) + kPrompt, 0), 0u)
        << result.out;
    for (size_t i = 0; i < 3; ++i) {
        const std::string mark = gang.Mark(i);
        EXPECT_NE(result.out.find(mark + "Established communication: " + kIdentity + "\n"),
                  std::string::npos)
            << result.out;
        EXPECT_NE(result.out.find(mark + "250 lines uploaded (100%)\n"), std::string::npos);
    }
    EXPECT_NE(result.out.find(gang.Mark(1) + "Mismatch: uploaded 250 lines; DSP reported 251 "
                                             "lines received\n"),
              std::string::npos);
    EXPECT_NE(result.out.find(gang.Mark(0) + "File uploaded OK\n"), std::string::npos);
    EXPECT_EQ(result.out.find(gang.Mark(1) + "File uploaded OK\n"), std::string::npos);
    // Every line between the prompt and the summary belongs to a port.
    const size_t from = result.out.find(kPrompt) + kPrompt.size();
    std::istringstream lines(result.out.substr(from, result.out.find("Gang summary:") - from));
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line[0], '[') << line;
        EXPECT_EQ(line.find('\r'), std::string::npos) << line;
    }
    EXPECT_EQ(SummaryRows(result.out),
              (std::vector<std::string>{
                  "Port Board Outcome Records", Row(gang.ports[0], kIdentity, "complete", 250),
                  Row(gang.ports[1], kIdentity, "count-mismatch", 250),
                  Row(gang.ports[2], kIdentity, "complete", 250), "2 of 3 ports complete."}))
        << result.out;
    // The columns line up.
    const size_t table = result.out.find("Gang summary:\n") + 14;
    const size_t outcomeColumn = result.out.find("Outcome", table) - table;
    const size_t row = result.out.find(gang.ports[1] + " ", table);
    EXPECT_EQ(result.out.find("count-mismatch", row) - row, outcomeColumn) << result.out;
    EXPECT_TRUE(ReceivedOwnDownload(*gang.boards[0], gang.content));
    EXPECT_TRUE(ReceivedOwnDownload(*gang.boards[2], gang.content));
    EXPECT_TRUE(ReceivedOwnDownload(*gang.boards[1], gang.content, ""));
}

// A board's words decide nothing: three boards that each say, in their
// greeting, what a failing run would say are shown saying it, and every one
// of them is complete.
TEST(Gang, BoardsThatSayWhatFailingRunsSayAreCompleteAllTheSame) {
    const std::vector<std::string> said = {
        "Mismatch: uploaded 1 lines; DSP reported 2 lines received",
        "Error: No answer from the receiver within 5 s",
        "Error occurred: COMPort: failed to open."};
    std::vector<sim::BoardConfig> configs(3);
    for (size_t i = 0; i < 3; ++i) {
        configs[i].greeting = {"-" + said[i]};
    }
    Gang gang(configs);

    harness::ProcessResult result = harness::RunVantoir(gang.Args(), kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err, "");
    for (size_t i = 0; i < 3; ++i) {
        const std::string mark = gang.Mark(i);
        EXPECT_EQ(OwnLines(result.out, mark)
                      .rfind("Established communication: " + kIdentity + "\n" + said[i] +
                                 "\nStart uploading file...\n",
                             0),
                  0u)
            << result.out;
        EXPECT_TRUE(ReceivedOwnDownload(*gang.boards[i], gang.content));
    }
    EXPECT_EQ(SummaryRows(result.out),
              (std::vector<std::string>{
                  "Port Board Outcome Records", Row(gang.ports[0], kIdentity, "complete", 250),
                  Row(gang.ports[1], kIdentity, "complete", 250),
                  Row(gang.ports[2], kIdentity, "complete", 250), "3 of 3 ports complete."}))
        << result.out;
}

// Through a pipe each port's lines keep their run's order, the progress
// lines (from the run's events) among them.
TEST(Gang, ProgressLinesKeepTheirPlaceAmongEachPortsLines) {
    Gang gang({{}, {}});

    harness::ProcessResult result = harness::RunVantoir(gang.Args(), kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(OwnLines(result.out, gang.Mark(i)),
                  "Established communication: " + kIdentity +
                      "\nStart uploading file...\n0 lines uploaded (0%)\n"
                      "250 lines uploaded (100%)\nFile uploaded OK\n"
                      "Start command sent to DSP\n")
            << result.out;
    }
}

// Each port's run runs its own power command, with its own port in the
// environment; the gang says once what replaces the prompt.
TEST(Gang, EveryRunSwitchesItsOwnBoardOnAndAFailedCommandFailsOnlyItsPort) {
    SKIP_UNDER_WINE("the command is a POSIX shell's");
    Gang gang({sim::BoardConfig(), sim::BoardConfig()});
    const std::string command =
        "[ \"$VANTOIR_PORT\" = '" + gang.ports[1] + "' ] && exit 5; echo \"on $VANTOIR_PORT\"";

    harness::ProcessResult result =
        harness::RunVantoir(gang.Args({"--power-command", command}), kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    const std::string instead =
        "Starting the board by the power command instead of a power cycle.\n";
    EXPECT_EQ(result.out.rfind(
                  download_test::EchoLine(gang.Args({"--power-command", command})) + instead, 0),
              0u)
        << result.out;
    EXPECT_EQ(result.out.find(instead), result.out.rfind(instead)) << "once, by the gang";
    EXPECT_EQ(result.out.find(kPrompt), std::string::npos);
    EXPECT_NE(result.out.find(gang.Mark(0) + "on " + gang.ports[0] + "\n"), std::string::npos)
        << result.out;
    EXPECT_NE(result.err.find(gang.Mark(1) + "Power command failed: exit status 5\n"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(ReceivedOwnDownload(*gang.boards[0], gang.content));
    EXPECT_EQ(gang.boards[1]->Received(), "");
    const std::vector<std::string> rows = SummaryRows(result.out);
    ASSERT_EQ(rows.size(), 4u) << result.out;
    EXPECT_EQ(rows[1], Row(gang.ports[0], kIdentity, "complete", 250));
    EXPECT_EQ(rows[2], Row(gang.ports[1], "-", "power-command-failed", 0));
}

// With --boards, each port programs board after board; the summary tallies
// every port's boards and all of them. The second board of the second port
// miscounts.
TEST(Gang, BoardAfterBoardOnEveryPortIsTalliedPerPort) {
    Gang gang({sim::BoardConfig(), sim::BoardConfig()});
    harness::ProcessOptions options;
    options.args = gang.Args({"--boards", "2"});
    harness::ChildProcess child(options);
    // Each first board, once done, is taken away and the next one put in; it
    // stays silent for longer than the second of quiet that the run awaits.
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(child.WaitForStdout(
            gang.Mark(i) + "Board 1: complete. Boards so far: 1 complete, 0 failed.\n",
            kRunGuardMs))
            << child.Stdout();
        sim::BoardConfig next;
        next.silentPolls = 60;
        next.countOffset = static_cast<int>(i);
        gang.boards[i]->SetPowered(false);
        gang.boards[i]->PowerOnAs(next);
    }
    const harness::ProcessResult result = child.Wait(kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    const std::string& out = result.out;
    // Each port's row without its seconds (the third column from the end).
    auto row = [&out](const std::string& port) {
        const size_t at = out.find("\n" + port + " ", out.find("Gang summary:\n"));
        std::istringstream line(out.substr(at + 1, out.find('\n', at + 1) - at - 1));
        std::vector<std::string> words;
        for (std::string word; line >> word;) {
            words.push_back(word);
        }
        std::string text;
        for (size_t i = 0; i < words.size(); ++i) {
            text += i + 3 == words.size() ? "" : (text.empty() ? "" : " ") + words[i];
        }
        return text;
    };
    EXPECT_NE(out.find("Records  Seconds  Complete  Failed\n"), out.npos) << out;
    EXPECT_EQ(row(gang.ports[0]), gang.ports[0] + " " + kIdentity + " complete 250 2 0") << out;
    EXPECT_EQ(row(gang.ports[1]), gang.ports[1] + " " + kIdentity + " count-mismatch 250 1 1")
        << out;
    ASSERT_NE(out.find("1 of 2 ports complete."), out.npos) << out;
    EXPECT_EQ(out.substr(out.find("1 of 2 ports complete.")),
              "1 of 2 ports complete.\nBoards in all: 3 complete, 1 failed.\n");
    EXPECT_NE(out.find(gang.Mark(1) + "Board 2: count-mismatch. Boards so far: 1 complete, 1 "
                                      "failed.\n"),
              std::string::npos)
        << out;
}

TEST(Gang, BoardThatHangsUpLeavesTheOthersComplete) {
    sim::BoardConfig hangsUp;
    hangsUp.hangUpAfterRecords = 100;
    Gang gang({hangsUp, {}, {}});

    harness::ProcessResult result = harness::RunVantoir(gang.Args(), kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    // Write or read, whichever the line fails first.
    EXPECT_EQ(result.err.rfind(gang.Mark(0) + "Error occurred: COMPort: ", 0), 0u) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    const std::vector<std::string> rows = SummaryRows(result.out);
    ASSERT_EQ(rows.size(), 5u) << result.out;
    EXPECT_EQ(rows[1].rfind(gang.ports[0], 0), 0u);
    EXPECT_NE(rows[1].find(" port-error "), std::string::npos) << rows[1];
    EXPECT_EQ(rows[2], Row(gang.ports[1], kIdentity, "complete", 250));
    EXPECT_EQ(rows[3], Row(gang.ports[2], kIdentity, "complete", 250));
    EXPECT_TRUE(ReceivedOwnDownload(*gang.boards[1], gang.content));
    EXPECT_TRUE(ReceivedOwnDownload(*gang.boards[2], gang.content));
}

TEST(Gang, AllBoardsCompleteWithTheSwitchesOfTheGangAndThePromptOnce) {
    sim::BoardConfig flashed;
    flashed.expectFlash = true;
    flashed.expectStart = false;
    flashed.flashProgressLines = 1;
    Gang gang({flashed, flashed});

    harness::ProcessResult result = harness::RunVantoir(gang.Args({"-W", "-L"}), kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.out.find(kPrompt), result.out.rfind(kPrompt)) << "the prompt once";
    EXPECT_EQ(result.out.find("Parsed command line:"), result.out.rfind("Parsed command line:"));
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_NE(result.out.find(gang.Mark(i) + "Programming flash memory...\n"),
                  std::string::npos);
        EXPECT_NE(result.out.find(gang.Mark(i) + "Programming flash: 100%\n"), std::string::npos)
            << result.out;
        EXPECT_TRUE(ReceivedOwnDownload(*gang.boards[i], gang.content, "W\r\n"));
    }
    EXPECT_EQ(result.out.find("Start command sent"), std::string::npos);
    EXPECT_NE(result.out.find("\n2 of 2 ports complete.\n"), std::string::npos);
}

// Boards that never answer: the gang polls until it is interrupted.
class GangInterrupted : public ::testing::Test {
  protected:
    void Start(harness::InputKind input) {
        sim::BoardConfig silent;
        silent.silentPolls = 1000000;
        gang = std::make_unique<Gang>(std::vector<sim::BoardConfig>{silent, silent, silent});
        harness::ProcessOptions options;
        options.args = gang->Args();
        options.inputKind = input;
        child = std::make_unique<harness::ChildProcess>(options);
        for (const auto& board : gang->boards) {
            ASSERT_TRUE(board->WaitForReceived("?\r\n", kRunGuardMs));
        }
    }

    void ExpectEveryPortInterrupted(const harness::ProcessResult& result, int signalNumber) {
        EXPECT_FALSE(result.timedOut);
        // The interrupt cut every port's session short: the gang ends as it.
        EXPECT_EQ(result.termSignal, signalNumber) << harness::Describe(result);
        const std::vector<std::string> rows = SummaryRows(result.out);
        ASSERT_EQ(rows.size(), 5u) << result.out;
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(rows[i + 1], Row(gang->ports[i], "-", "interrupted", 0)) << result.out;
        }
        EXPECT_EQ(rows[4], "0 of 3 ports complete.");
        // Each run gave its port back: the port opens again.
        for (const auto& board : gang->boards) {
            harness::ProcessResult again = download_test::Download(*board, "/vantoir-no-such-file");
            EXPECT_EQ(again.err, "Can't open file /vantoir-no-such-file for upload\n");
        }
    }

    std::unique_ptr<Gang> gang;
    std::unique_ptr<harness::ChildProcess> child;
};

TEST_F(GangInterrupted, CtrlCEndsEveryRunAndThenTheSummaryFollows) {
    Start(harness::InputKind::Terminal);
    child->WriteKeys("\x03");
    ExpectEveryPortInterrupted(child->Wait(kRunGuardMs), SIGINT);
}

// Ctrl-C typed on the gang's terminal reaches the gang alone; each run gets
// the one request the gang passes on, ends in order and writes its record,
// here while every board writes its flash. Three times over: a run that got
// the terminal's request besides the gang's ended at once, recordless, in
// most tries but not all.
TEST(GangInterruptedOnItsTerminal, EveryRunWritesItsRecordWhileTheFlashIsWritten) {
    sim::BoardConfig flashing;
    flashing.expectFlash = true;
    flashing.flashProgressLines = 100000;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round + 1));
        Gang gang({flashing, flashing, flashing, flashing});
        const std::string report = harness::WriteTempFile("", "records.jsonl");
        harness::ProcessOptions options;
        options.args = gang.Args({"-W", "--report", report});
        options.inputKind = harness::InputKind::Terminal;
        harness::ChildProcess child(options);
        for (const auto& board : gang.boards) {
            ASSERT_TRUE(board->WaitForReceived("W\r\n", kRunGuardMs));
        }
        child.WriteKeys("\x03");
        const harness::ProcessResult result = child.Wait(kRunGuardMs);
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(result.termSignal, SIGINT) << harness::Describe(result);
        const std::vector<report_test::Json> records = report_test::ReadRecords(report);
        ASSERT_EQ(records.size(), 4u) << result.out;
        std::multiset<std::string> ports;
        for (const report_test::Json& record : records) {
            EXPECT_EQ(record["outcome"], "interrupted") << record.dump();
            EXPECT_EQ(record["flash"], "not-acknowledged") << record.dump();
            EXPECT_EQ(record["signal"], harness::RunsWindowsBuild() ? "CTRL_C" : "SIGINT")
                << record.dump();
            ports.insert(record["port"].get<std::string>());
        }
        EXPECT_EQ(ports, std::multiset<std::string>(gang.ports.begin(), gang.ports.end()));
    }
}

// A run that cannot end (here its power command stops it) is ended outright
// once the grace after the interrupt has passed, and the summary says so;
// the others have ended in order with their records.
TEST(GangInterruptedOnItsTerminal, OnlyARunStillStuckAfterTheGraceIsEndedOutright) {
    SKIP_UNDER_WINE("the command is a POSIX shell's");
    sim::BoardConfig silent;
    silent.silentPolls = 1000000;
    Gang gang({silent, silent});
    const std::string report = harness::WriteTempFile("", "records.jsonl");
    // The command writes to the run's own output, which reaches the gang
    // while the run itself is stopped.
    const std::string command = "[ \"$VANTOIR_PORT\" = '" + gang.ports[1] +
                                "' ] && kill -STOP $PPID && echo 'run stopped'; true";
    harness::ProcessOptions options;
    options.args = gang.Args({"--power-command", command, "--report", report});
    harness::ChildProcess child(options);
    ASSERT_TRUE(gang.boards[0]->WaitForReceived("?\r\n", kRunGuardMs));
    ASSERT_TRUE(child.WaitForStdout(gang.Mark(1) + "run stopped\n", kRunGuardMs));
    child.Signal(SIGTERM);
    const harness::ProcessResult result = child.Wait(kRunGuardMs);
    EXPECT_EQ(result.termSignal, SIGTERM) << harness::Describe(result);
    const std::vector<std::string> rows = SummaryRows(result.out);
    ASSERT_GE(rows.size(), 4u) << result.out;
    EXPECT_EQ(rows[1], Row(gang.ports[0], "-", "interrupted", 0));
    EXPECT_EQ(rows[2], Row(gang.ports[1], "-", "interrupted", 0));
    EXPECT_EQ(result.out.substr(result.out.find("0 of 2 ports complete.\n")),
              "0 of 2 ports complete.\nThe run for port " + gang.ports[1] +
                  " had not ended 10 s after the interrupt and was ended outright; its record "
                  "may be missing.\n");
    const std::vector<report_test::Json> records = report_test::ReadRecords(report);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["port"], gang.ports[0]);
    EXPECT_EQ(records[0]["outcome"], "interrupted");
}

TEST_F(GangInterrupted, TerminationOfTheGangAloneEndsEveryRun) {
    SKIP_UNDER_WINE("a Windows program has no SIGTERM");
    Start(harness::InputKind::Null);
    child->Signal(SIGTERM);
    ExpectEveryPortInterrupted(child->Wait(kRunGuardMs), SIGTERM);
}

void ExpectRejected(const std::vector<std::string>& args, const std::string& message) {
    const harness::ProcessResult result = harness::RunVantoir(args, kRunGuardMs);
    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, message);
}

TEST(GangRejected, ListsThatNameNoPortOrOneTwiceAndClashingSwitches) {
    ExpectRejected({"--gang", "", "-F", "x.hex"},
                   "Invalid value for switch --gang: \nThe list of ports is empty.\n");
    ExpectRejected({"--gang", "COM3,,COM4", "-F", "x.hex"},
                   "Invalid value for switch --gang: COM3,,COM4\nAn entry of the list is empty.\n");
    ExpectRejected({"--GANG", "COM3,"},
                   "Invalid value for switch --GANG: COM3,\n"
                   "An entry of the list is empty.\n");
    ExpectRejected({"--gang", "COM3,COM4,COM3"},
                   "Invalid value for switch --gang: COM3,COM4,COM3\n"
                   "The port COM3 is named twice.\n");
    ExpectRejected({"--gang", "COM3,COM4", "-C"},
                   "Switch --gang downloads only: it cannot be used with -C\n");
    ExpectRejected({"-r", "--gang", "COM3,COM4"},
                   "Switch --gang downloads only: it cannot be used with -r\n");
    ExpectRejected({"-P", "COM1", "--gang", "COM3,COM4"},
                   "Switch --gang names the ports: it cannot be used with -P\n");
    ExpectRejected({"-F", "x.hex", "--gang"}, "Missing argument to switch --gang\n");
}

TEST(GangRejected, ImageRefusedByTheCheckStartsNoRunAndEndsWithTheSummary) {
    Gang gang(std::vector<sim::BoardConfig>(2));
    gang.dataFile = harness::WriteTempFile(":10000000FFFF\n:00000001FF\n");
    const harness::ProcessResult result = harness::RunVantoir(gang.Args({"--check"}), kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_NE(result.err.find(gang.dataFile + ": image refused"), std::string::npos) << result.err;
    // The summary as every gang ends with it, each port refused.
    const size_t summary = result.out.find("Gang summary:\n");
    ASSERT_NE(summary, std::string::npos) << result.out;
    EXPECT_EQ(std::count(result.out.begin() + static_cast<long>(summary), result.out.end(), '\n'),
              5)
        << result.out;
    EXPECT_NE(result.out.find("image-refused", summary), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("0 of 2 ports complete.\n", summary), std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.find("Please cycle the power"), std::string::npos) << result.out;
    for (const auto& board : gang.boards) {
        EXPECT_EQ(board->BytesReceived(), 0);
    }
}

TEST(GangRejected, PortThatCannotBeOpenedEndsOnlyItsOwnRun) {
    Gang gang(std::vector<sim::BoardConfig>(1));
    gang.ports.push_back("/dev/vantoir-no-such-port");
    harness::ProcessResult result = harness::RunVantoir(gang.Args({"-L"}), kRunGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    std::string err = result.err;
    for (size_t at = 0; (at = err.find("[vantoir-no-such-port] ", at)) != std::string::npos;) {
        err.erase(at, 23);
    }
    EXPECT_EQ(result.err.compare(0, 23, "[vantoir-no-such-port] "), 0) << result.err;
    EXPECT_EQ(err, "Error occurred: COMPort: failed to open.\n" +
                       harness::OpenFailureLine("/dev/vantoir-no-such-port", err));
    const std::vector<std::string> rows = SummaryRows(result.out);
    ASSERT_EQ(rows.size(), 4u) << result.out;
    EXPECT_NE(rows[2].find(" port-error "), std::string::npos) << rows[2];
    EXPECT_TRUE(ReceivedOwnDownload(*gang.boards[0], gang.content, ""));
}

}  // namespace
