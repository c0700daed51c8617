// A gang's event stream (--gang ... --events): every event of every port's
// run, each with its port right after "t" and "t" counted from the gang's
// start, never decreasing across the stream; an end from the gang for a run
// that could not tell its own; last the gang's own end with each port's
// outcome. And the gang's output keeps each port's lines, those the events
// make among them, in their run's order, board after board.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/events/EventRuns.h"
#include "tests/app/gang/GangTestSupport.h"

namespace {

using events_test::Json;
using events_test::Names;
using gang_test::Gang;
using gang_test::kIdentity;
using gang_test::OwnLines;
using gang_test::SummaryRows;
using Strings = std::vector<std::string>;

constexpr int kGuardMs = events_test::kGuardMs;

// The events of port's run, in order.
std::vector<Json> OfPort(const std::vector<Json>& events, const std::string& port) {
    std::vector<Json> own;
    for (const Json& event : events) {
        if (event.value("port", std::string()) == port) {
            own.push_back(event);
        }
    }
    return own;
}

// Every line but the gang's own end names its port right after "t".
void ExpectPortAfterTime(const std::string& stream, const Strings& ports) {
    static const std::regex head(
        "\\{\"v\":1,\"event\":\"[a-z-]+\",\"t\":[0-9.e+-]+,\"port\":\"([^\"]+)\"[,}]");
    const Strings lines = download_test::Lines(stream);
    ASSERT_FALSE(lines.empty());
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_search(lines[i], match, head)) << lines[i];
        EXPECT_EQ(match.position(0), 0) << lines[i];
        EXPECT_NE(std::find(ports.begin(), ports.end(), match[1].str()), ports.end()) << lines[i];
    }
    EXPECT_EQ(lines.back().find("\"port\":"), std::string::npos) << lines.back();
}

// The gang's own end, the stream's last event.
void ExpectGangEnd(const std::vector<Json>& events, const std::string& outcome, int status,
                   const Json& ports) {
    ASSERT_FALSE(events.empty());
    const Json& end = events.back();
    EXPECT_EQ(end["event"], "end");
    EXPECT_FALSE(end.contains("port"));
    EXPECT_EQ(end["outcome"], outcome);
    EXPECT_EQ(end["exit_status"], status);
    EXPECT_TRUE(end["signal"].is_null());
    EXPECT_EQ(end["ports"], ports);
    // Its time is the gang's end, and so are its seconds (to the millisecond).
    const double seconds = end["seconds"].get<double>();
    EXPECT_EQ(seconds, std::round(seconds * 1000) / 1000) << end.dump();
    EXPECT_NEAR(end["t"].get<double>(), seconds, 0.0015) << end.dump();
}

// The names of one port's run of one board.
Strings RunOfOneBoard(bool complete) {
    Strings names = {"run-begin", "board-begin", "phase",    "board",    "phase", "phase",
                     "progress",  "progress",    "progress", "progress", "phase", "count"};
    if (complete) {
        names.insert(names.end(), {"phase", "start"});
    }
    names.insert(names.end(), {"board-end", "end"});
    return names;
}

TEST(GangStream, EveryPortsRunIsPassedOnWithItsPortAndTheGangEndsWithEachPortsOutcome) {
    sim::BoardConfig wrongCount;
    wrongCount.countOffset = 1;
    const std::vector<sim::BoardConfig> configs = {{}, wrongCount, {}};
    Gang gang(configs);
    Gang plain(configs);
    const std::string stream = harness::WriteTempFile("", "gang.events.jsonl");
    const std::string report = harness::WriteTempFile("", "gang.report.jsonl");
    harness::ProcessOptions options;
    options.args = gang.Args({"--events", stream, "--report", report});
    harness::ChildProcess withEvents(options);
    options.args = plain.Args();
    harness::ChildProcess without(options);
    const harness::ProcessResult result = withEvents.Wait(kGuardMs);
    const harness::ProcessResult plainResult = without.Wait(kGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    // Standard output as without --events: each port's own lines, the
    // summary (the ports' lines mix differently from run to run).
    EXPECT_EQ(plainResult.exitStatus, 1);
    EXPECT_EQ(result.err, plainResult.err);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(OwnLines(result.out, gang.Mark(i)), OwnLines(plainResult.out, plain.Mark(i)));
    }
    Strings rows = SummaryRows(plainResult.out);
    for (size_t i = 0; i < 3; ++i) {
        rows[i + 1] = events_test::Replaced(rows[i + 1], plain.ports[i], gang.ports[i]);
    }
    EXPECT_EQ(SummaryRows(result.out), rows);

    events_test::ExpectValid(stream);
    const std::vector<Json> events = events_test::ReadEvents(stream);
    events_test::ExpectVersionAndTimeInOrder(events);
    ExpectPortAfterTime(events_test::ReadFile(stream), gang.ports);
    const std::vector<Json> records = report_test::ReadRecords(report);
    ASSERT_EQ(records.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(gang.ports[i]);
        const std::vector<Json> own = OfPort(events, gang.ports[i]);
        EXPECT_EQ(Names(own), RunOfOneBoard(i != 1));
        ASSERT_FALSE(own.empty());
        EXPECT_EQ(own.front()["port"], gang.ports[i]);
        EXPECT_EQ(own.back()["outcome"], i == 1 ? "count-mismatch" : "complete");
        EXPECT_EQ(own.back()["exit_status"], i == 1 ? 1 : 0);
        const Json record = events_test::Only(own, "board-end")["record"];
        size_t reported = 0;
        while (reported < records.size() && records[reported]["port"] != gang.ports[i]) {
            ++reported;
        }
        ASSERT_LT(reported, records.size());
        EXPECT_EQ(record, records[reported]);
        EXPECT_EQ(record["run_id"], own.front()["run_id"]);
    }
    ExpectGangEnd(events, "failed", 1,
                  {{gang.ports[0], "complete"},
                   {gang.ports[1], "count-mismatch"},
                   {gang.ports[2], "complete"}});
}

// The runs of the gang that vantoir process started, by their port.
std::map<std::string, pid_t> RunsOf(pid_t gang) {
    std::map<std::string, pid_t> runs;
    std::ifstream children("/proc/" + std::to_string(gang) + "/task/" + std::to_string(gang) +
                           "/children");
    for (pid_t child = 0; children >> child;) {
        std::ifstream cmdline("/proc/" + std::to_string(child) + "/cmdline");
        Strings words;
        for (std::string word; std::getline(cmdline, word, '\0');) {
            words.push_back(word);
        }
        for (size_t i = 0; i + 1 < words.size(); ++i) {
            if (words[i] == "-P") {
                runs[words[i + 1]] = child;
            }
        }
    }
    return runs;
}

TEST(GangStream, ARunEndedOutrightGetsItsEndFromTheGang) {
    SKIP_UNDER_WINE("the runs are found through /proc");
    sim::BoardConfig silent;
    silent.silentPolls = 1000000;
    Gang gang({{}, silent});
    const std::string stream = harness::WriteTempFile("", "gang.events.jsonl");
    harness::ProcessOptions options;
    options.args = gang.Args({"--events", stream});
    harness::ChildProcess child(options);
    ASSERT_TRUE(gang.boards[0]->WaitForStart(kGuardMs));
    ASSERT_TRUE(gang.boards[1]->WaitForReceived("?\r\n?\r\n", kGuardMs));
    const std::map<std::string, pid_t> runs = RunsOf(child.Pid());
    ASSERT_EQ(runs.count(gang.ports[1]), 1u) << "runs found: " << runs.size();
    ASSERT_EQ(kill(runs.at(gang.ports[1]), SIGKILL), 0);
    const harness::ProcessResult result = child.Wait(kGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    events_test::ExpectValid(stream);
    const std::vector<Json> events = events_test::ReadEvents(stream);
    events_test::ExpectVersionAndTimeInOrder(events);
    EXPECT_EQ(Names(OfPort(events, gang.ports[0])), RunOfOneBoard(true));
    const std::vector<Json> killed = OfPort(events, gang.ports[1]);
    EXPECT_EQ(Names(killed), (Strings{"run-begin", "board-begin", "phase", "end"}));
    ASSERT_FALSE(killed.empty());
    EXPECT_EQ(killed.back()["outcome"], "failed");
    EXPECT_TRUE(killed.back()["exit_status"].is_null());
    ExpectGangEnd(events, "failed", 1, {{gang.ports[0], "complete"}, {gang.ports[1], "failed"}});
}

// A gang that starts no run (its image refused, or found sound by
// --check-only): each port's board-end carries the record written for it,
// its end follows, then the gang's; no board hears a byte.
void ExpectNoRunStarted(const Gang& gang, const Strings& switches, const std::string& outcome,
                        const std::string& gangOutcome, int status) {
    const std::string stream = harness::WriteTempFile("", "gang.events.jsonl");
    const std::string report = harness::WriteTempFile("", "gang.report.jsonl");
    Strings args = switches;
    args.insert(args.end(), {"--events", stream, "--report", report});
    const harness::ProcessResult result = harness::RunVantoir(gang.Args(args), kGuardMs);

    EXPECT_EQ(result.exitStatus, status) << harness::Describe(result);
    events_test::ExpectValid(stream);
    const std::vector<Json> events = events_test::ReadEvents(stream);
    events_test::ExpectVersionAndTimeInOrder(events);
    ExpectPortAfterTime(events_test::ReadFile(stream), gang.ports);
    EXPECT_EQ(Names(events), (Strings{"board-end", "board-end", "end", "end", "end"}));
    const std::vector<Json> records = report_test::ReadRecords(report);
    ASSERT_EQ(records.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const std::vector<Json> own = OfPort(events, gang.ports[i]);
        ASSERT_EQ(Names(own), (Strings{"board-end", "end"}));
        EXPECT_EQ(own[0]["record"], records[i]);
        EXPECT_EQ(records[i]["port"], gang.ports[i]);
        EXPECT_EQ(own[0]["outcome"], outcome);
        EXPECT_EQ(own[1]["outcome"], outcome);
        EXPECT_EQ(own[1]["exit_status"], status);
    }
    ExpectGangEnd(events, gangOutcome, status,
                  {{gang.ports[0], outcome}, {gang.ports[1], outcome}});
    for (const auto& board : gang.boards) {
        EXPECT_EQ(board->BytesReceived(), 0);
    }
}

TEST(GangStream, ARefusedImageEndsEveryPortAndTheGang) {
    Gang gang(std::vector<sim::BoardConfig>(2));
    gang.dataFile = harness::WriteTempFile(":0000000XFF\n:00000001FF\n");
    ExpectNoRunStarted(gang, {"--check"}, "image-refused", "failed", 1);
}

TEST(GangStream, ACheckOnlyGangThatFindsTheImageSoundEndsEveryPortImageOk) {
    Gang gang(std::vector<sim::BoardConfig>(2));
    ExpectNoRunStarted(gang, {"--check-only"}, "image-ok", "image-ok", 0);
}

TEST(GangStream, EventsToStandardOutputLeaveNothingElseThere) {
    Gang gang(std::vector<sim::BoardConfig>(2));
    const harness::ProcessResult result =
        harness::RunVantoir(gang.Args({"--events", "-"}), kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_EQ(result.err, "");
    const std::vector<Json> events = events_test::ParseEvents(result.out);
    events_test::ExpectValidText(result.out);
    events_test::ExpectVersionAndTimeInOrder(events);
    ExpectPortAfterTime(result.out, gang.ports);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(Names(OfPort(events, gang.ports[i])), RunOfOneBoard(true));
        EXPECT_TRUE(gang_test::ReceivedOwnDownload(*gang.boards[i], gang.content));
    }
    ExpectGangEnd(events, "complete", 0,
                  {{gang.ports[0], "complete"}, {gang.ports[1], "complete"}});
}

// Board after board on every port of a gang: each port's lines in their
// run's order, the progress that its events make and its tally after its
// "Take board 1 away" line; and in the stream each board's events between
// its begin and its end.
TEST(GangStream, BoardAfterBoardKeepsEachPortsLinesAndEventsInTheirPlaces) {
    Gang gang({sim::BoardConfig(), sim::BoardConfig()});
    const std::string stream = harness::WriteTempFile("", "gang.events.jsonl");
    harness::ProcessOptions options;
    options.args = gang.Args({"--boards", "2", "--events", stream});
    harness::ChildProcess child(options);
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(child.WaitForStdout(gang.Mark(i) + "Take board 1 away", kGuardMs))
            << child.Stdout();
        gang.boards[i]->SetPowered(false);
        sim::BoardConfig next;
        next.silentPolls = 60;
        gang.boards[i]->PowerOnAs(next);
    }
    const harness::ProcessResult result = child.Wait(kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    const std::string board = "Established communication: " + kIdentity +
                              "\nStart uploading file...\n0 lines uploaded (0%)\n"
                              "250 lines uploaded (100%)\nFile uploaded OK\n"
                              "Start command sent to DSP\n";
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(OwnLines(result.out, gang.Mark(i)),
                  board + "Board 1: complete. Boards so far: 1 complete, 0 failed.\n" +
                      "Take board 1 away (or switch it off); the next board is awaited once the "
                      "line is quiet.\n" +
                      board + "Board 2: complete. Boards so far: 2 complete, 0 failed.\n" +
                      "Boards in all: 2 complete, 0 failed.\n")
            << result.out;
    }
    events_test::ExpectValid(stream);
    const std::vector<Json> events = events_test::ReadEvents(stream);
    events_test::ExpectVersionAndTimeInOrder(events);
    const Strings one = {"phase",    "board",    "phase", "phase", "progress", "progress",
                         "progress", "progress", "phase", "count", "phase",    "start"};
    Strings expected = {"run-begin"};
    for (int number = 1; number <= 2; ++number) {
        expected.push_back("board-begin");
        expected.insert(expected.end(), one.begin(), one.end());
        expected.push_back("board-end");
    }
    expected.push_back("end");
    for (size_t i = 0; i < 2; ++i) {
        const std::vector<Json> own = OfPort(events, gang.ports[i]);
        EXPECT_EQ(Names(own), expected) << gang.ports[i];
        const std::vector<Json> ends = events_test::Named(own, "board-end");
        ASSERT_EQ(ends.size(), 2u);
        EXPECT_EQ(ends[0]["board_number"], 1);
        EXPECT_EQ(ends[1]["board_number"], 2);
    }
    ExpectGangEnd(events, "complete", 0,
                  {{gang.ports[0], "complete"}, {gang.ports[1], "complete"}});
}

}  // namespace
