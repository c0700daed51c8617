// --result-command: once a board's outcome is known, a command with the
// board's facts in its environment signals it to the fixture (its lights, a
// PLC); how it ended is said and recorded and never changes the outcome.
// After the ledger's closing and the power-off command, before the record
// and board-end. The real program against the simulated board.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/operator/OperatorTestSupport.h"

namespace {

using namespace operator_test;
using report_test::OnlyRecord;

// A path as a command of the program's shell names it: under Wine, cmd
// takes the file system's root as drive Z:.
std::string ShellPath(const std::string& path) {
    if (!harness::RunsWindowsBuild()) {
        return path;
    }
    std::string dos = "Z:" + path;
    for (char& c : dos) {
        c = c == '/' ? '\\' : c;
    }
    return dos;
}

// A command that writes every VANTOIR_ variable of its environment, one
// NAME=value a line, to path.
std::string EnvironmentCommand(const std::string& path) {
    return harness::RunsWindowsBuild() ? "set VANTOIR_> " + ShellPath(path)
                                       : "env | grep '^VANTOIR_' > '" + path + "'";
}

std::map<std::string, std::string> Environment(const std::string& path) {
    std::map<std::string, std::string> environment;
    std::istringstream lines(harness::NativeLineEnds(FileText(path)));
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        environment[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return environment;
}

class ResultCommand : public ::testing::Test {
  protected:
    std::vector<std::string> Args(sim::Board& board, const std::string& command,
                                  std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {
            "-P",   harness::PortName(board), "-F",   dataFile, "--report", report, "--events",
            events, "--result-command",       command};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    std::string dataFile = harness::WriteTempFile(harness::SampleHex(5));
    std::string report = harness::WriteTempFile("", "r") + ".jsonl";
    std::string events = harness::WriteTempFile("", "e") + ".jsonl";
    std::string said = harness::WriteTempFile("", "said");
};

// A complete board and a failed one, each with its outcome, its own exit
// status and the rest of its facts.
TEST_F(ResultCommand, EachBoardIsSignalledWithItsOutcomeAndFacts) {
    auto complete = harness::StartBoard();
    const harness::ProcessResult done = harness::RunVantoir(
        Args(*complete, EnvironmentCommand(said), {"--label", "SN-5", "--run-id", "lot-9"}),
        kGuardMs);
    EXPECT_EQ(done.exitStatus, 0) << harness::Describe(done);
    EXPECT_EQ(done.err, "");
    std::map<std::string, std::string> environment = Environment(said);
    EXPECT_EQ(environment["VANTOIR_OUTCOME"], "complete");
    EXPECT_EQ(environment["VANTOIR_EXIT_STATUS"], "0");
    EXPECT_EQ(environment["VANTOIR_LABEL"], "SN-5");
    EXPECT_EQ(environment["VANTOIR_BOARD"], "1");
    EXPECT_EQ(environment["VANTOIR_PORT"], harness::PortName(*complete));
    EXPECT_EQ(environment["VANTOIR_DEVICE"], OnlyRecord(report)["device"]);
    EXPECT_EQ(environment["VANTOIR_RUN_ID"], "lot-9");
    EXPECT_EQ(environment["VANTOIR_STAMP"], "");
    // The id its record carries, made before the record is.
    EXPECT_EQ(environment["VANTOIR_RECORD_ID"], OnlyRecord(report)["record_id"]);
    EXPECT_EQ(OnlyRecord(report)["result_command"],
              Json({{"command", EnvironmentCommand(said)}, {"ended", "exited"}, {"status", 0}}));

    sim::BoardConfig miscounting;
    miscounting.countOffset = 1;
    auto failing = harness::StartBoard(miscounting);
    report = harness::WriteTempFile("", "r2") + ".jsonl";
    const harness::ProcessResult failed =
        harness::RunVantoir(Args(*failing, EnvironmentCommand(said)), kGuardMs);
    EXPECT_EQ(failed.exitStatus, 1) << harness::Describe(failed);
    environment = Environment(said);
    EXPECT_EQ(environment["VANTOIR_OUTCOME"], "count-mismatch");
    EXPECT_EQ(environment["VANTOIR_EXIT_STATUS"], "1");
    EXPECT_EQ(environment["VANTOIR_LABEL"], "");
    EXPECT_EQ(OnlyRecord(report)["outcome"], "count-mismatch");
    EXPECT_EQ(environment["VANTOIR_RECORD_ID"], OnlyRecord(report)["record_id"]);
}

TEST_F(ResultCommand, AFailureIsSaidAndRecordedAndLeavesTheOutcome) {
    auto board = harness::StartBoard();
    const harness::ProcessResult result = harness::RunVantoir(Args(*board, "exit 3"), kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err, "Result command failed: exit status 3\n");
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "complete");
    EXPECT_EQ(record["exit_status"], 0);
    EXPECT_EQ(record["result_command"],
              Json({{"command", "exit 3"}, {"ended", "exited"}, {"status", 3}}));
}

TEST_F(ResultCommand, OneThatHangsIsEndedAtTheTimeout) {
    SKIP_UNDER_WINE("the command is a POSIX shell's");
    auto board = harness::StartBoard();
    const harness::ProcessResult result =
        harness::RunVantoir(Args(*board, "sleep 600", {"--timeout", "1"}), kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err,
              "Result command failed: still running after 1 s, ended with all it started\n");
    const Json record = OnlyRecord(report);
    EXPECT_EQ(record["outcome"], "complete");
    EXPECT_EQ(record["result_command"]["ended"], "timeout");
    EXPECT_TRUE(record["result_command"]["status"].is_null());
}

// When it runs, the board's number is closed in the ledger and the board
// switched off; its record is not written yet. Its key is the record's last.
TEST_F(ResultCommand, ComesAfterTheLedgerAndThePowerOffCommandBeforeTheRecord) {
    SKIP_UNDER_WINE("the commands are a POSIX shell's");
    auto board = harness::StartBoard();
    const std::string ledger = harness::WriteTempFile("", "ledger.jsonl");
    const std::string off = harness::WriteTempFile("", "off");
    const std::string command = "{ echo \"$VANTOIR_STAMP\"; grep -c '\"used\"' '" + ledger +
                                "'; cat '" + off + "'; wc -l < '" + report + "'; } > '" + said +
                                "'";
    const harness::ProcessResult result = harness::RunVantoir(
        Args(*board, command,
             {"--stamp", "0x0000:u16le", "--stamp-overwrite", "--stamp-ledger", ledger,
              "--stamp-start", "41", "--power-off-command", "echo off > '" + off + "'"}),
        kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(FileText(said), "41\n1\noff\n0\n");
    const std::string line = FileText(report);
    EXPECT_NE(line.find(",\"result_command\":{\"command\":"), std::string::npos) << line;
    const std::string tail = "\"ended\":\"exited\",\"status\":0}}\n";
    EXPECT_EQ(line.compare(line.size() - tail.size(), tail.size(), tail), 0) << line;
    std::vector<std::string> steps;
    for (const Json& event : Events(events)) {
        if (event["event"] == "fixture" || event["event"] == "board-end") {
            steps.push_back(event.value("step", "board-end"));
        }
    }
    EXPECT_EQ(steps,
              std::vector<std::string>({"power-off-command", "result-command", "board-end"}));
    ExpectEventsValid(events);
}

// Each board of a --repeat run, with its number and its own record's id.
TEST_F(ResultCommand, RunsForEveryBoardOfARepeatRun) {
    SKIP_UNDER_WINE("the command is a POSIX shell's");
    auto board = harness::StartBoard();
    harness::ProcessOptions options;
    options.args = Args(
        *board, "echo \"$VANTOIR_BOARD $VANTOIR_OUTCOME $VANTOIR_RECORD_ID\" >> '" + said + "'",
        {"--boards", "2"});
    harness::ChildProcess child(options);
    PowerCycleAfterEachBoard(*board, child, 2, [](int number) {
        return "Board " + std::to_string(number) + ": complete.";
    });
    const harness::ProcessResult result = child.Wait(kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    const std::vector<Json> records = report_test::ReadRecords(report);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(FileText(said), "1 complete " + records[0]["record_id"].get<std::string>() +
                                  "\n2 complete " + records[1]["record_id"].get<std::string>() +
                                  "\n");
}

TEST(ResultCommandRefused, OutsideDownloadModeOrEmpty) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-C", "--result-command", "true"},
         "Switch --result-command downloads only: it cannot be used with -C\n"},
        {{"-F", "x.hex", "--result-command", " "},
         "Invalid value for switch --result-command:  \n"},
    };
    for (const auto& [line, err] : cases) {
        const harness::ProcessResult result = harness::RunVantoir(line, kGuardMs);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, err);
    }
}

}  // namespace
