// The events of one port's run (--events FILE), the real program against
// simulated boards, each run beside the same run without --events: the
// events' names in their order, the values that matter, every event
// accepted by the schema, each board-end's record the very line --report
// wrote, and standard output, standard error and the exit status as without
// --events.

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "tests/app/events/EventRuns.h"

namespace {

using events_test::Json;
using events_test::Named;
using events_test::Names;
using events_test::NamesOnce;
using events_test::Only;
using events_test::TwinRuns;
using Strings = std::vector<std::string>;

constexpr int kGuardMs = events_test::kGuardMs;
constexpr int kForever = 1000000;
const std::string kIdentity = "KELVOR DSP boot loader 2.4";

// The name the record and the events give Ctrl-C: the Windows build gets it
// as a console event.
std::string CtrlCName() {
    return harness::RunsWindowsBuild() ? "CTRL_C" : "SIGINT";
}

// The phases told, in order.
Strings Phases(const std::vector<Json>& events) {
    Strings phases;
    for (const Json& event : Named(events, "phase")) {
        phases.push_back(event["phase"]);
    }
    return phases;
}

// The run's first and last events say how the run began and ended: its
// run_id, mode, port and file as its record gives them; outcome, exit
// status and signal as the record of its last board, unless a board's own
// differs from the run's (board after board).
void ExpectRunBeginAndEnd(const std::vector<Json>& events, const std::string& mode,
                          const std::string& outcome, const Json& exitStatus,
                          const Json& signal = nullptr) {
    ASSERT_GE(events.size(), 2u);
    const Json& begin = events.front();
    const Json& end = events.back();
    EXPECT_EQ(begin["event"], "run-begin");
    EXPECT_EQ(end["event"], "end");
    EXPECT_EQ(begin["mode"], mode);
    EXPECT_EQ(end["outcome"], outcome);
    EXPECT_EQ(end["exit_status"], exitStatus);
    EXPECT_EQ(end["signal"], signal);
    EXPECT_GE(end["seconds"].get<double>(), 0.0);
    EXPECT_LE(end["seconds"].get<double>(), end["t"].get<double>() + 0.001);
    for (const Json& boardEnd : Named(events, "board-end")) {
        const Json& record = boardEnd["record"];
        EXPECT_EQ(record["run_id"], begin["run_id"]);
        EXPECT_EQ(record["mode"], begin["mode"]);
        EXPECT_EQ(record["port"], begin["port"]);
        EXPECT_EQ(record["baud"], begin["baud"]);
        EXPECT_EQ(record["file"], begin["file"]);
        EXPECT_EQ(record["station"], begin["station"]);
    }
}

// The board-end of a run of one board.
void ExpectBoardEnd(const std::vector<Json>& events, const std::string& outcome,
                    const Json& exitStatus, const Json& signal = nullptr) {
    const Json end = Only(events, "board-end");
    EXPECT_TRUE(end["board_number"].is_null());
    EXPECT_EQ(end["outcome"], outcome);
    EXPECT_EQ(end["exit_status"], exitStatus);
    EXPECT_EQ(end["record"]["signal"], signal);
}

const Strings kUpload = {"progress", "progress", "progress", "progress"};

// "run-begin", "board-begin", then names, then "board-end", "end".
Strings Story(const Strings& names) {
    Strings story = {"run-begin", "board-begin"};
    story.insert(story.end(), names.begin(), names.end());
    story.insert(story.end(), {"board-end", "end"});
    return story;
}

Strings Join(std::initializer_list<Strings> parts) {
    Strings joined;
    for (const Strings& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

TEST(RunEvents, ACompleteDownloadTellsEachStepWithTheNumbersShown) {
    sim::BoardConfig config;
    config.expectFlash = true;
    config.flashProgressLines = 2;
    config.flashIntervalMs = 50;
    config.greeting = {"-Ready for \"data\""};
    const std::string file = harness::WriteTempFile(harness::SampleHex(250));
    TwinRuns runs(config, {"-F", file, "-W", "--station", "bay 4"});
    runs.Run();

    runs.ExpectSameOutput();
    EXPECT_EQ(runs.events.result.exitStatus, 0) << harness::Describe(runs.events.result);
    const std::vector<Json> events = runs.Events();
    EXPECT_EQ(Names(events), Story(Join({{"phase", "board", "message", "phase", "phase"},
                                         kUpload,
                                         {"phase", "count", "phase", "message", "message", "flash",
                                          "phase", "start"}})));
    EXPECT_EQ(Phases(events),
              (Strings{"identify", "request", "upload", "count", "flash", "start"}));
    const Json begin = events.front();
    EXPECT_EQ(begin["port"], runs.events.port);
    EXPECT_EQ(begin["baud"], 115200);
    EXPECT_EQ(begin["file"], file);
    EXPECT_EQ(begin["station"], "bay 4");
    EXPECT_EQ(begin["run_id"].get<std::string>().size(), 36u) << "generated: a UUID";
    EXPECT_TRUE(Only(events, "board-begin")["board_number"].is_null());
    EXPECT_EQ(Only(events, "board")["identity"], kIdentity);
    // Each "-" line as shown, without its "-".
    Strings messages;
    for (const Json& message : Named(events, "message")) {
        messages.push_back(message["text"]);
        EXPECT_NE(runs.events.result.out.find("\n" + messages.back() + "\n"), std::string::npos);
    }
    EXPECT_EQ(messages,
              (Strings{"Ready for \"data\"", "Programming flash: 50%", "Programming flash: 100%"}));
    EXPECT_EQ(events_test::ProgressTold(events),
              events_test::ProgressShown(runs.events.result.out));
    EXPECT_EQ(events_test::ProgressTold(events).back(), "250 100 last");
    EXPECT_EQ(Only(events, "count")["count"], 250);
    EXPECT_EQ(Only(events, "flash")["acknowledged"], true);
    ExpectBoardEnd(events, "complete", 0);
    ExpectRunBeginAndEnd(events, "download", "complete", 0);
    runs.ExpectRecordsAsReported(events);
    EXPECT_EQ(Only(events, "board-end")["record"]["records_confirmed"], 250);
}

// Each way a session fails ends the stream alike: the board's end with its
// outcome, then the run's, with the same status as the program's.
TEST(RunEvents, ACountMismatchEndsAfterTheCount) {
    sim::BoardConfig config;
    config.countOffset = 1;
    TwinRuns runs(config, {"-F", harness::WriteTempFile(harness::SampleHex(250))});
    runs.Run();

    runs.ExpectSameOutput();
    EXPECT_EQ(runs.events.result.exitStatus, 1) << harness::Describe(runs.events.result);
    const std::vector<Json> events = runs.Events();
    EXPECT_EQ(Names(events),
              Story(Join({{"phase", "board", "phase", "phase"}, kUpload, {"phase", "count"}})));
    EXPECT_EQ(Only(events, "count")["count"], 251);
    ExpectBoardEnd(events, "count-mismatch", 1);
    ExpectRunBeginAndEnd(events, "download", "count-mismatch", 1);
    runs.ExpectRecordsAsReported(events);
}

TEST(RunEvents, AFlashNotAcknowledgedIsToldAsSuch) {
    sim::BoardConfig config;
    config.flashNeverAck = true;
    config.flashProgressLines = 1;
    config.flashIntervalMs = 50;
    TwinRuns runs(config, {"-F", harness::WriteTempFile(harness::SampleHex(3)), "-W"});
    runs.Run();

    runs.ExpectSameOutput();
    EXPECT_EQ(runs.events.result.exitStatus, 1) << harness::Describe(runs.events.result);
    const std::vector<Json> events = runs.Events();
    EXPECT_EQ(Names(events), Story({"phase", "board", "phase", "phase", "progress", "progress",
                                    "phase", "count", "phase", "message", "flash"}));
    EXPECT_EQ(Only(events, "flash")["acknowledged"], false);
    ExpectBoardEnd(events, "flash-not-acknowledged", 1);
    ExpectRunBeginAndEnd(events, "download", "flash-not-acknowledged", 1);
    runs.ExpectRecordsAsReported(events);
}

TEST(RunEvents, ATimeOutEndsInThePhaseThatWaited) {
    sim::BoardConfig config;
    config.ignoreRequests = kForever;
    TwinRuns runs(config, {"-F", harness::WriteTempFile(harness::SampleHex(5)), "--timeout", "1"});
    runs.Run();

    runs.ExpectSameOutput();
    EXPECT_EQ(runs.events.result.exitStatus, 1) << harness::Describe(runs.events.result);
    const std::vector<Json> events = runs.Events();
    EXPECT_EQ(Names(events), Story({"phase", "board", "phase"}));
    EXPECT_EQ(Phases(events), (Strings{"identify", "request"}));
    ExpectBoardEnd(events, "timeout", 1);
    ExpectRunBeginAndEnd(events, "download", "timeout", 1);
    runs.ExpectRecordsAsReported(events);
}

TEST(RunEvents, APortErrorEndsTheStreamBeforeAndDuringTheSession) {
    // A port that is not there: no session at all.
    {
        TwinRuns runs(std::nullopt, {"-P", "/dev/vantoir-no-such-port", "-F",
                                     harness::WriteTempFile(harness::SampleHex(5))});
        runs.Run();
        runs.ExpectSameOutput();
        EXPECT_EQ(runs.events.result.exitStatus, 1) << harness::Describe(runs.events.result);
        const std::vector<Json> events = runs.Events();
        EXPECT_EQ(Names(events), Story({}));
        EXPECT_EQ(events.front()["port"], "/dev/vantoir-no-such-port");
        ExpectBoardEnd(events, "port-error", 1);
        ExpectRunBeginAndEnd(events, "download", "port-error", 1);
        runs.ExpectRecordsAsReported(events);
    }
    // A board that hangs up mid-upload, long before the last record could be
    // written; which of the port's calls fails first, and so the error said,
    // depends on the moment.
    sim::BoardConfig config;
    config.hangUpAfterRecords = 100;
    TwinRuns runs(config, {"-F", harness::WriteTempFile(harness::SampleHex(2000))});
    runs.Run();
    runs.ExpectSameOutput(TwinRuns::kProgress | TwinRuns::kError);
    EXPECT_EQ(runs.events.result.exitStatus, 1) << harness::Describe(runs.events.result);
    const std::vector<Json> events = runs.Events();
    EXPECT_EQ(NamesOnce(events), Story({"phase", "board", "phase", "phase", "progress"}));
    // The progress line cut short is ended, and its numbers told once more
    // as the last.
    std::vector<std::string> shown = events_test::ProgressShown(runs.events.result.out);
    ASSERT_FALSE(shown.empty());
    const std::string last = shown.back();
    shown.back() = last.substr(0, last.size() - 5);
    shown.push_back(last);
    EXPECT_EQ(events_test::ProgressTold(events), shown);
    ExpectBoardEnd(events, "port-error", 1);
    ExpectRunBeginAndEnd(events, "download", "port-error", 1);
    runs.ExpectRecordsAsReported(events);
}

TEST(RunEvents, ARefusedImageAndACheckOnlyRunTellNoSession) {
    {
        TwinRuns runs(sim::BoardConfig(),
                      {"-F", harness::WriteTempFile(":0000000XFF\n:00000001FF\n"), "--check"});
        runs.Run();
        runs.ExpectSameOutput();
        EXPECT_EQ(runs.events.result.exitStatus, 1) << harness::Describe(runs.events.result);
        const std::vector<Json> events = runs.Events();
        EXPECT_EQ(Names(events), Story({}));
        ExpectBoardEnd(events, "image-refused", 1);
        ExpectRunBeginAndEnd(events, "download", "image-refused", 1);
        runs.ExpectRecordsAsReported(events);
        const Json findings = Only(events, "board-end")["record"]["findings"];
        ASSERT_FALSE(findings.empty());
        EXPECT_NE(findings[0].get<std::string>().find("character 'X' at column 9"),
                  std::string::npos);
        EXPECT_EQ(runs.events.board->BytesReceived(), 0);
    }
    TwinRuns runs(std::nullopt,
                  {"--check-only", "-F", harness::WriteTempFile(harness::SampleHex(5))});
    runs.Run();
    runs.ExpectSameOutput();
    EXPECT_EQ(runs.events.result.exitStatus, 0) << harness::Describe(runs.events.result);
    const std::vector<Json> events = runs.Events();
    EXPECT_EQ(Names(events), Story({}));
    ExpectBoardEnd(events, "image-ok", 0);
    ExpectRunBeginAndEnd(events, "download", "image-ok", 0);
    runs.ExpectRecordsAsReported(events);
}

// An upload paced at 9600 baud, ended by signalNumber once 20 records are in.
void ExpectInterruptedUpload(int signalNumber, const std::string& signalName) {
    sim::BoardConfig config;
    config.baudRate = 9600;
    TwinRuns runs(config, {"-F", harness::WriteTempFile(harness::SampleHex(2000)), "-B", "9600"});
    runs.Start();
    runs.Each([&](events_test::OneRun& run) {
        ASSERT_TRUE(run.board->WaitForRecords(20, kGuardMs)) << run.child->Stdout();
        run.child->Signal(signalNumber);
    });
    runs.Wait();

    runs.ExpectSameOutput(TwinRuns::kProgress);
    EXPECT_EQ(runs.events.result.termSignal, signalNumber) << harness::Describe(runs.events.result);
    const std::vector<Json> events = runs.Events();
    EXPECT_EQ(NamesOnce(events), Story({"phase", "board", "phase", "phase", "progress"}));
    EXPECT_EQ(events_test::ProgressTold(events),
              events_test::ProgressShown(runs.events.result.out));
    ExpectBoardEnd(events, "interrupted", nullptr, signalName);
    ExpectRunBeginAndEnd(events, "download", "interrupted", nullptr, signalName);
    runs.ExpectRecordsAsReported(events);
    EXPECT_GE(Only(events, "board-end")["record"]["records_sent"].get<int>(), 20);
}

TEST(RunEvents, CtrlCMidUploadEndsTheBoardAndTheRunWithTheSignal) {
    ExpectInterruptedUpload(SIGINT, CtrlCName());
}

TEST(RunEvents, SigtermMidUploadEndsTheBoardAndTheRunWithTheSignal) {
    SKIP_UNDER_WINE("Wine ends the program on SIGTERM without telling it");
    ExpectInterruptedUpload(SIGTERM, "SIGTERM");
}

TEST(RunEvents, AClosedStandardOutputStillEndsTheStream) {
    SKIP_UNDER_WINE("Windows has no SIGPIPE");
    auto board = harness::StartBoard();
    const std::string events = harness::WriteTempFile("", "closed.events.jsonl");
    const std::string report = harness::WriteTempFile("", "closed.report.jsonl");
    const harness::ProcessResult closed = harness::RunIntoAClosedPipe(
        {"-P", harness::PortName(*board), "-F", harness::WriteTempFile(harness::SampleHex(30)),
         "--events", events, "--report", report},
        false, kGuardMs);

    EXPECT_EQ(closed.exitStatus, 141) << harness::Describe(closed);
    EXPECT_EQ(closed.err, "");
    events_test::ExpectValid(events);
    const std::vector<Json> told = events_test::ReadEvents(events);
    ASSERT_FALSE(told.empty());
    // Where the program notices that its reader has gone depends on when
    // the reader went.
    const Strings names = Names(told);
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ(Strings(names.begin(), names.begin() + 2), (Strings{"run-begin", "board-begin"}));
    EXPECT_EQ(Strings(names.end() - 2, names.end()), (Strings{"board-end", "end"}));
    ExpectBoardEnd(told, "interrupted", nullptr, "SIGPIPE");
    ExpectRunBeginAndEnd(told, "download", "interrupted", nullptr, "SIGPIPE");
    EXPECT_EQ(Only(told, "board-end")["record"], report_test::OnlyRecord(report));

    // With the events on standard output, the stream has nowhere to go: the
    // run ends as without them, its record written.
    auto other = harness::StartBoard();
    const std::string kept = harness::WriteTempFile("", "closed.report.jsonl");
    const harness::ProcessResult nowhere = harness::RunIntoAClosedPipe(
        {"-P", harness::PortName(*other), "-F", harness::WriteTempFile(harness::SampleHex(30)),
         "--events", "-", "--report", kept},
        false, kGuardMs);
    EXPECT_EQ(nowhere.exitStatus, 141) << harness::Describe(nowhere);
    EXPECT_EQ(nowhere.err, "");
    const Json record = report_test::OnlyRecord(kept);
    EXPECT_EQ(record["outcome"], "interrupted");
    EXPECT_EQ(record["signal"], "SIGPIPE");
}

// Board after board: each board its own begin and end, numbered, between
// one run-begin and one end; the second board miscounts.
TEST(RunEvents, BoardAfterBoardTellsEachBoardWithItsNumber) {
    TwinRuns runs(sim::BoardConfig(), {"-F", harness::WriteTempFile(harness::SampleHex(30)),
                                       "--repeat", "--boards", "3"});
    runs.Start();
    for (int done = 1; done < 3; ++done) {
        const std::string takeAway = "Take board " + std::to_string(done) + " away";
        runs.Each([&](events_test::OneRun& run) {
            ASSERT_TRUE(run.child->WaitForStdout(takeAway, kGuardMs)) << run.child->Stdout();
            run.board->SetPowered(false);
            ASSERT_TRUE(run.child->WaitForStdout(takeAway +
                                                     " (or switch it off); the next board "
                                                     "is awaited once the line is quiet.\n" +
                                                     download_test::kPrompt,
                                                 kGuardMs))
                << run.child->Stdout();
            sim::BoardConfig next;
            next.countOffset = done == 1 ? 1 : 0;
            run.board->PowerOnAs(next);
        });
    }
    runs.Wait();

    runs.ExpectSameOutput();
    EXPECT_EQ(runs.events.result.exitStatus, 1) << harness::Describe(runs.events.result);
    const std::vector<Json> events = runs.Events();
    const Strings board = Join({{"board-begin", "phase", "board", "phase", "phase", "progress"},
                                {"progress", "phase", "count"}});
    const Strings complete = Join({board, {"phase", "start", "board-end"}});
    EXPECT_EQ(Names(events),
              Join({{"run-begin"}, complete, Join({board, {"board-end"}}), complete, {"end"}}));
    const std::vector<Json> begins = Named(events, "board-begin");
    const std::vector<Json> ends = Named(events, "board-end");
    ASSERT_EQ(ends.size(), 3u);
    const Strings outcomes = {"complete", "count-mismatch", "complete"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(begins[i]["board_number"], i + 1);
        EXPECT_EQ(ends[i]["board_number"], i + 1);
        EXPECT_EQ(ends[i]["outcome"], outcomes[i]);
        EXPECT_EQ(ends[i]["exit_status"], i == 1 ? 1 : 0) << "the board's own";
    }
    // The last board was complete, but not every one: the run failed.
    ExpectRunBeginAndEnd(events, "download", "failed", 1);
    runs.ExpectRecordsAsReported(events);
}

TEST(RunEvents, AConsoleTellsItsPhaseButNotTheBoardsOutput) {
    sim::BoardConfig config;
    config.loaderProtocol = false;
    TwinRuns runs(config, {"-C"});
    runs.Start(harness::InputKind::Terminal);
    runs.Each([](events_test::OneRun& run) {
        ASSERT_TRUE(run.child->WaitForStdout("Entering Console mode...\n", kGuardMs));
        ASSERT_TRUE(run.child->WaitForKeyAtATime(kGuardMs));
        run.child->WriteKeys("a");
        ASSERT_TRUE(run.board->WaitForReceived("a", kGuardMs));
        run.board->Send("-not a message, no line end");
        ASSERT_TRUE(run.child->WaitForStdout("-not a message, no line end", kGuardMs));
        run.child->WriteKeys("\x03");
    });
    runs.Wait();

    runs.ExpectSameOutput();
    EXPECT_EQ(runs.events.result.termSignal, SIGINT) << harness::Describe(runs.events.result);
    const std::vector<Json> events = runs.Events();
    EXPECT_EQ(Names(events), Story({"phase"}));
    EXPECT_EQ(Phases(events), Strings{"console"});
    EXPECT_TRUE(events.front()["file"].is_null());
    ExpectBoardEnd(events, "ended", nullptr, CtrlCName());
    ExpectRunBeginAndEnd(events, "console", "ended", nullptr, CtrlCName());
    runs.ExpectRecordsAsReported(events);
}

TEST(RunEvents, ARawCopyTellsItsBeginningAndItsEnd) {
    sim::BoardConfig config;
    config.loaderProtocol = false;
    const std::string content = "raw bytes\x01\x02\r\n" + std::string(300, 'x');
    const std::string file = harness::WriteTempFile(content, "raw.bin");
    TwinRuns runs(config, {"-R", "-F", file});
    runs.Run();

    runs.ExpectSameOutput();
    EXPECT_EQ(runs.events.result.exitStatus, 0) << harness::Describe(runs.events.result);
    ASSERT_TRUE(runs.events.board->WaitForBytes(static_cast<int64_t>(content.size()), kGuardMs));
    EXPECT_EQ(runs.events.board->Received(), content);
    const std::vector<Json> events = runs.Events();
    EXPECT_EQ(Names(events), Story({}));
    EXPECT_EQ(events.front()["file"], file);
    ExpectBoardEnd(events, "ended", 0);
    ExpectRunBeginAndEnd(events, "raw", "ended", 0);
    runs.ExpectRecordsAsReported(events);
}

}  // namespace
