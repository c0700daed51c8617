// --repeat and --boards: board after board on one port, over one simulated
// board that is switched off and on again between them.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/app/report/ReportRecords.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"
#include "text/Sha256.h"

namespace {

using download_test::kPrompt;
using report_test::Json;
using report_test::ReadRecords;

constexpr int kGuardMs = 60000;

int Occurrences(const std::string& text, const std::string& piece) {
    int count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
        ++count;
    }
    return count;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string TallyLine(int number, const std::string& outcome, int complete, int failed) {
    return "Board " + std::to_string(number) + ": " + outcome +
           ". Boards so far: " + std::to_string(complete) + " complete, " + std::to_string(failed) +
           " failed.\n";
}

std::string TakeAwayLine(int number) {
    return "Take board " + std::to_string(number) +
           " away (or switch it off); the next board is awaited once the line is quiet.\n";
}

class BoardAfterBoard : public ::testing::Test {
  protected:
    void Start(const sim::BoardConfig& config, std::vector<std::string> extra, int records = 30) {
        board = harness::StartBoard(config);
        content = harness::SampleHex(records);
        report = harness::WriteTempFile("", "x") + ".jsonl";
        dataFile = harness::WriteTempFile(content);
        harness::ProcessOptions options;
        options.args = {"-P", harness::PortName(*board), "-F", dataFile, "--report", report};
        options.args.insert(options.args.end(), extra.begin(), extra.end());
        child = std::make_unique<harness::ChildProcess>(options);
    }

    // The first record line as it travels, to count the downloads on the wire.
    std::string FirstRecord() const { return content.substr(0, content.find('\n')) + "\r\n"; }

    std::unique_ptr<sim::Board> board;
    std::unique_ptr<harness::ChildProcess> child;
    std::string content;
    std::string dataFile;
    std::string report;
};

TEST_F(BoardAfterBoard, SecondBoardIsProgrammedOnlyOnceTheFirstHasGone) {
    Start(sim::BoardConfig(), {"--boards", "2"});
    ASSERT_TRUE(board->WaitForStart(kGuardMs)) << child->Stdout();
    ASSERT_TRUE(child->WaitForStdout(TallyLine(1, "complete", 1, 0), kGuardMs));

    // The first board stays on and keeps answering: it is polled, never
    // programmed again, and no prompt for a next board comes.
    size_t from = board->Received().size();
    for (int poll = 0; poll < 30; ++poll) {
        ASSERT_TRUE(board->WaitForReceived("?\r\n", kGuardMs, from));
        from = board->Received().find("?\r\n", from) + 3;
    }
    EXPECT_EQ(Occurrences(board->Received(), "R\r\n"), 1);
    EXPECT_EQ(Occurrences(child->Stdout(), kPrompt), 1);

    // Switched off, the line goes quiet: the prompt for the next board.
    board->SetPowered(false);
    ASSERT_TRUE(
        child->WaitForStdout(TallyLine(1, "complete", 1, 0) + TakeAwayLine(1) + kPrompt, kGuardMs));
    board->SetPowered(true);
    const harness::ProcessResult result = child->Wait(kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_TRUE(EndsWith(result.out,
                         TallyLine(2, "complete", 2, 0) + "Boards in all: 2 complete, 0 failed.\n"))
        << result.out;
    ASSERT_TRUE(board->WaitForStart(kGuardMs));
    EXPECT_EQ(Occurrences(board->Received(), FirstRecord()), 2);
    EXPECT_TRUE(board->Summary().downloadComplete);
    const std::vector<Json> records = ReadRecords(report);
    ASSERT_EQ(records.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(records[i]["board_number"], i + 1);
        EXPECT_EQ(records[i]["outcome"], "complete");
        EXPECT_EQ(records[i]["records_confirmed"], 30);
        EXPECT_EQ(records[i]["exit_status"], 0);
    }
}

TEST_F(BoardAfterBoard, InterruptWhileWaitingForTheNextBoardEndsWithTheTally) {
    Start(sim::BoardConfig(), {"--repeat"});
    ASSERT_TRUE(child->WaitForStdout(TallyLine(1, "complete", 1, 0), kGuardMs));
    board->SetPowered(false);
    ASSERT_TRUE(
        child->WaitForStdout(TallyLine(1, "complete", 1, 0) + TakeAwayLine(1) + kPrompt, kGuardMs));
    child->Signal(SIGINT);
    const harness::ProcessResult result = child->Wait(kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_TRUE(EndsWith(result.out, kPrompt + "Boards in all: 1 complete, 0 failed.\n"))
        << result.out;
    EXPECT_EQ(ReadRecords(report).size(), 1u);
}

TEST_F(BoardAfterBoard, BoardCutShortByTheInterruptCountsAsInterrupted) {
    sim::BoardConfig config;
    config.baudRate = 9600;
    Start(config, {"--repeat", "-B", "9600"}, 2000);
    ASSERT_TRUE(board->WaitForRecords(20, kGuardMs));
    child->Signal(SIGINT);
    const harness::ProcessResult result = child->Wait(kGuardMs);

    // The tally is shown, then the run ends as the interrupt that cut the
    // board short.
    EXPECT_EQ(result.termSignal, SIGINT) << harness::Describe(result);
    EXPECT_TRUE(EndsWith(result.out, "\n" + TallyLine(1, "interrupted", 0, 1) +
                                         "Boards in all: 0 complete, 1 failed.\n"))
        << result.out;
    const std::vector<Json> records = ReadRecords(report);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["outcome"], "interrupted");
    EXPECT_EQ(records[0]["signal"], harness::RunsWindowsBuild() ? "CTRL_C" : "SIGINT");
    EXPECT_EQ(records[0]["exit_status"], 1);
}

TEST_F(BoardAfterBoard, FailedBoardIsCountedAndFailsTheRun) {
    sim::BoardConfig config;
    config.countOffset = 1;
    Start(config, {"--boards", "1"});
    const harness::ProcessResult result = child->Wait(kGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_TRUE(EndsWith(result.out, TallyLine(1, "count-mismatch", 0, 1) +
                                         "Boards in all: 0 complete, 1 failed.\n"))
        << result.out;
    EXPECT_EQ(ReadRecords(report).at(0)["outcome"], "count-mismatch");
}

TEST_F(BoardAfterBoard, EachRecordCarriesItsOwnBoardsExitStatus) {
    sim::BoardConfig mismatching;
    mismatching.countOffset = 1;
    Start(mismatching, {"--boards", "2", "--run-id", "lot 7", "--station", "bench 2"});
    ASSERT_TRUE(
        child->WaitForStdout(TallyLine(1, "count-mismatch", 0, 1) + TakeAwayLine(1), kGuardMs));
    board->SetPowered(false);
    ASSERT_TRUE(child->WaitForStdout(TakeAwayLine(1) + kPrompt, kGuardMs));
    board->PowerOnAs(sim::BoardConfig());
    const harness::ProcessResult result = child->Wait(kGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_TRUE(EndsWith(result.out,
                         TallyLine(2, "complete", 1, 1) + "Boards in all: 1 complete, 1 failed.\n"))
        << result.out;
    const std::vector<Json> records = ReadRecords(report);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["outcome"], "count-mismatch");
    EXPECT_EQ(records[0]["exit_status"], 1);
    EXPECT_EQ(records[1]["outcome"], "complete");
    EXPECT_EQ(records[1]["exit_status"], 0) << "the board's own status, not the run's so far";
    for (const Json& record : records) {
        EXPECT_EQ(record["run_id"], "lot 7");
        EXPECT_EQ(record["station"], "bench 2");
    }
}

TEST_F(BoardAfterBoard, AnImageChangedAfterItsCheckIsNeverSent) {
    Start(sim::BoardConfig(), {"--repeat", "--check"});
    ASSERT_TRUE(child->WaitForStdout(TallyLine(1, "complete", 1, 0) + TakeAwayLine(1), kGuardMs));
    ASSERT_TRUE(board->WaitForStart(kGuardMs));
    // The file replaced between two boards by one with a broken line.
    const std::string changed = ":10000000ZZ\n" + content;
    {
        // As an editor saves it: a new file put in the old one's place.
        std::ofstream(dataFile + ".new", std::ios::binary) << changed;
        ASSERT_EQ(std::rename((dataFile + ".new").c_str(), dataFile.c_str()), 0);
    }
    const size_t before = board->Received().size();
    board->SetPowered(false);
    const harness::ProcessResult result = child->Wait(kGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, "Error: " + dataFile + " is no longer the image that was checked\n");
    std::string after = board->Received().substr(before);
    download_test::TakeRepeated(after, "?\r\n");
    EXPECT_EQ(after, "") << "nothing but polls after the first board";
    const std::vector<Json> records = ReadRecords(report);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["file_sha256"], Sha256Hex(content.data(), content.size()));
    EXPECT_EQ(records[1]["board_number"], 2);
    EXPECT_EQ(records[1]["outcome"], "image-changed");
    EXPECT_EQ(records[1]["exit_status"], 1);
    EXPECT_EQ(records[1]["records_sent"], 0);
    EXPECT_EQ(records[1]["file_sha256"], Sha256Hex(changed.data(), changed.size()));
    EXPECT_EQ(records[0]["run_id"], records[1]["run_id"]);
}

TEST(BoardAfterBoardRehearsal, KelvorSimIsSwitchedOffAndOnBySignals) {
    SKIP_UNDER_WINE(
        "kelvor-sim's pseudo-terminal is named as a COM port only for in-process boards");
    harness::ProcessOptions simOptions;
    simOptions.binary = KELVOR_SIM_BINARY;
    simOptions.args = {"--quiet"};
    harness::ChildProcess sim(simOptions);
    ASSERT_TRUE(sim.WaitForStdout("\n", kGuardMs));
    const std::string port = sim.Stdout().substr(0, sim.Stdout().find('\n'));
    harness::ProcessOptions options;
    options.args = {"-P",       port, "-F", harness::WriteTempFile(harness::SampleHex(10)),
                    "--boards", "2"};
    harness::ChildProcess run(options);

    ASSERT_TRUE(run.WaitForStdout(TakeAwayLine(1), kGuardMs)) << run.Stdout();
    sim.Signal(SIGUSR1);
    ASSERT_TRUE(run.WaitForStdout(TakeAwayLine(1) + kPrompt, kGuardMs)) << run.Stdout();
    sim.Signal(SIGUSR2);
    const harness::ProcessResult result = run.Wait(kGuardMs);
    sim.Signal(SIGINT);
    sim.Wait(kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_TRUE(EndsWith(result.out,
                         TallyLine(2, "complete", 2, 0) + "Boards in all: 2 complete, 0 failed.\n"))
        << result.out;
}

TEST(BoardsSwitch, CountMustBeAWholeNumberFromOne) {
    for (const std::string value : {"0", "-1", "two", ""}) {
        const harness::ProcessResult result =
            harness::RunVantoir({"-P", "/dev/null", "--boards", value}, kGuardMs);
        EXPECT_EQ(result.exitStatus, 1) << value;
        EXPECT_EQ(result.err, "Invalid value for switch --boards: " + value + "\n");
    }
}

}  // namespace
