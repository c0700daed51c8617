// Where the events go: --events - makes standard output a stream of events
// and nothing else, the exit status as without it, what the commands of the
// run write on standard error; it is refused where a person reads standard
// output. An events file that cannot be opened ends the run before its port
// is touched; one that cannot be written to is said once, and fails the run.

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "tests/app/events/EventRuns.h"

namespace {

using events_test::Json;
using events_test::Names;
using events_test::Only;
using events_test::TwinRuns;
using Strings = std::vector<std::string>;

constexpr int kGuardMs = events_test::kGuardMs;

// Standard output holds the events alone, each a line, and the run ends as
// it does without --events - (its standard error and exit status; its
// standard output's messages are gone).
void ExpectOnlyEventsOnOutput(const TwinRuns& runs) {
    const harness::ProcessResult& result = runs.events.result;
    EXPECT_EQ(result.out.back(), '\n');
    for (const std::string& line : download_test::Lines(result.out)) {
        EXPECT_EQ(line.rfind("{\"v\":1,\"event\":\"", 0), 0u) << line;
    }
    EXPECT_EQ(events_test::Replaced(result.err, runs.events.port, "PORT"),
              events_test::Replaced(runs.plain.result.err, runs.plain.port, "PORT"));
    EXPECT_EQ(result.exitStatus, runs.plain.result.exitStatus) << harness::Describe(result);
    EXPECT_EQ(result.termSignal, runs.plain.result.termSignal);
}

TEST(EventsToOutput, StandardOutputHoldsNothingButEventsAndTheStatusIsAsWithout) {
    const std::string file = harness::WriteTempFile(harness::SampleHex(250));
    sim::BoardConfig wrongCount;
    wrongCount.countOffset = 1;
    for (const sim::BoardConfig& config : {sim::BoardConfig(), wrongCount}) {
        TwinRuns runs(config, {"-F", file}, "-");
        runs.Run();
        ExpectOnlyEventsOnOutput(runs);
        const std::vector<Json> events = runs.Events();
        const bool complete = config.countOffset == 0;
        EXPECT_EQ(runs.events.result.exitStatus, complete ? 0 : 1);
        EXPECT_EQ(events.back()["outcome"], complete ? "complete" : "count-mismatch");
        Strings names = {"run-begin", "board-begin", "phase",    "board",    "phase", "phase",
                         "progress",  "progress",    "progress", "progress", "phase", "count"};
        if (complete) {
            names.insert(names.end(), {"phase", "start"});
        }
        names.insert(names.end(), {"board-end", "end"});
        EXPECT_EQ(Names(events), names);
        runs.ExpectRecordsAsReported(events);
    }
    // An error before the board: said on standard error as ever.
    TwinRuns failed(std::nullopt, {"-P", "/dev/vantoir-no-such-port", "-F", file}, "-");
    failed.Run();
    ExpectOnlyEventsOnOutput(failed);
    EXPECT_EQ(failed.events.result.err.rfind("Error occurred: COMPort: failed to open.\n", 0), 0u);
    EXPECT_EQ(Names(failed.Events()), (Strings{"run-begin", "board-begin", "board-end", "end"}));
}

TEST(EventsToOutput, CtrlCEndsTheStreamAndTheRunAsWithout) {
    sim::BoardConfig silent;
    silent.silentPolls = 1000000;
    TwinRuns runs(silent, {"-F", harness::WriteTempFile(harness::SampleHex(5))}, "-");
    runs.Start();
    runs.Each([](events_test::OneRun& run) {
        ASSERT_TRUE(run.board->WaitForReceived("?\r\n?\r\n", kGuardMs));
        run.child->Signal(SIGINT);
    });
    runs.Wait();

    ExpectOnlyEventsOnOutput(runs);
    EXPECT_EQ(runs.events.result.termSignal, SIGINT) << harness::Describe(runs.events.result);
    const std::vector<Json> events = runs.Events();
    EXPECT_EQ(Names(events), (Strings{"run-begin", "board-begin", "phase", "board-end", "end"}));
    EXPECT_EQ(events.back()["outcome"], "interrupted");
    EXPECT_TRUE(events.back()["exit_status"].is_null());
}

TEST(EventsToOutput, WhatThePowerCommandWritesGoesToStandardError) {
    SKIP_UNDER_WINE("the command is a POSIX shell's");
    const std::string command = "echo switched on; echo to error >&2";
    TwinRuns runs(sim::BoardConfig(),
                  {"-F", harness::WriteTempFile(harness::SampleHex(5)), "--power-command", command},
                  "-");
    runs.Run();

    EXPECT_EQ(runs.plain.result.exitStatus, 0) << harness::Describe(runs.plain.result);
    EXPECT_NE(runs.plain.result.out.find("\nswitched on\n"), std::string::npos)
        << runs.plain.result.out;
    EXPECT_EQ(runs.plain.result.err, "to error\n");
    EXPECT_EQ(runs.events.result.exitStatus, 0) << harness::Describe(runs.events.result);
    EXPECT_EQ(runs.events.result.err, "switched on\nto error\n");
    for (const std::string& line : download_test::Lines(runs.events.result.out)) {
        EXPECT_EQ(line.rfind("{\"v\":1,\"event\":\"", 0), 0u) << line;
    }
    const Json step = Only(runs.Events(), "fixture");
    EXPECT_EQ(step["step"], "power-command");
    EXPECT_EQ(step["command"], command);
    EXPECT_EQ(step["ended"], "exited");
    EXPECT_EQ(step["status"], 0);
}

TEST(EventsToOutput, IsRefusedWhereAPersonReadsStandardOutput) {
    const std::string file = harness::WriteTempFile(harness::SampleHex(5));
    const std::string message =
        "Switch --events - fills standard output with events: it cannot be used with ";
    const std::vector<std::pair<Strings, std::string>> refused = {
        {{"-P", "/dev/vantoir-no-such-port", "-C", "--events", "-"}, "-C"},
        {{"-P", "/dev/vantoir-no-such-port", "--events", "-", "-C"}, "-C"},
        {{"-P", "/dev/vantoir-no-such-port", "-F", file, "--monitor", "--events", "-"},
         "--monitor"},
    };
    for (const auto& [args, named] : refused) {
        const harness::ProcessResult result = harness::RunVantoir(args, kGuardMs);
        EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, message + named + "\n");
    }
}

TEST(EventsFile, OneThatCannotBeOpenedEndsTheRunBeforeItsPortWithoutARecord) {
    auto board = harness::StartBoard();
    const std::string missing = harness::WriteTempFile("", "x") + ".d/events.jsonl";
    const std::string report = harness::WriteTempFile("", "report.jsonl");
    const Strings args = {"-P",       harness::PortName(*board),
                          "-F",       harness::WriteTempFile(harness::SampleHex(5)),
                          "--events", missing,
                          "--report", report};
    const harness::ProcessResult result = harness::RunVantoir(args, kGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, "Can't open events file " + missing + "\n");
    EXPECT_EQ(result.out, download_test::EchoLine(args));
    EXPECT_EQ(events_test::ReadFile(report), "");
    EXPECT_EQ(board->BytesReceived(), 0);
}

TEST(EventsFile, AWriteThatFailsIsSaidOnceAndTheRunFailsThoughTheBoardIsComplete) {
    TwinRuns runs(sim::BoardConfig(), {"-F", harness::WriteTempFile(harness::SampleHex(250))},
                  "/dev/full");
    runs.Run();

    EXPECT_EQ(runs.plain.result.exitStatus, 0) << harness::Describe(runs.plain.result);
    EXPECT_EQ(runs.events.result.exitStatus, 1) << harness::Describe(runs.events.result);
    EXPECT_EQ(runs.events.result.err, "Can't write events file /dev/full\n");
    ASSERT_TRUE(runs.events.board->WaitForStart(kGuardMs));
    EXPECT_TRUE(runs.events.board->Summary().downloadComplete);
    // Standard output as without --events.
    const std::string echo = download_test::EchoLine(runs.events.args);
    const std::string plainEcho = download_test::EchoLine(runs.plain.args);
    EXPECT_EQ(runs.events.result.out.substr(echo.size()),
              runs.plain.result.out.substr(plainEcho.size()));
    // The record says how the board did, and how the run ended.
    const Json record = report_test::OnlyRecord(runs.reportPath);
    EXPECT_EQ(record["outcome"], "complete");
    EXPECT_EQ(record["exit_status"], 1);
}

}  // namespace
