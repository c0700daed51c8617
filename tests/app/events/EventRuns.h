#pragma once
// What the tests of the event stream share: the events of a file or of a
// run's standard output, read back as JSON; their names; the schema's
// verdict on every one of them (tests/support/validate-events.py against
// docs/events.schema.json); and twin runs, the same run twice at once
// against two boards of the same config, one with --events FILE and
// --report, one without --events, so that a test compares their standard
// output byte for byte and the events with the record.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/app/report/ReportRecords.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"

namespace events_test {

using Json = nlohmann::json;

inline constexpr int kGuardMs = 60000;

// Every line of text, each parsed as one event; a line that is no JSON
// fails the test and is left out.
inline std::vector<Json> ParseEvents(const std::string& text) {
    std::vector<Json> events;
    for (const std::string& line : download_test::Lines(text)) {
        Json event = Json::parse(line, nullptr, false);
        EXPECT_FALSE(event.is_discarded()) << "no JSON: " << line;
        if (!event.is_discarded()) {
            events.push_back(std::move(event));
        }
    }
    return events;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<Json> ReadEvents(const std::string& path) {
    return ParseEvents(ReadFile(path));
}

// The events' names, in order.
inline std::vector<std::string> Names(const std::vector<Json>& events) {
    std::vector<std::string> names;
    for (const Json& event : events) {
        names.push_back(event.value("event", std::string("?")));
    }
    return names;
}

// The names with every run of "progress" events told once: how many
// progress lines an upload cut short shows depends on the moment it was cut.
inline std::vector<std::string> NamesOnce(const std::vector<Json>& events) {
    std::vector<std::string> names;
    for (const std::string& name : Names(events)) {
        if (name != "progress" || names.empty() || names.back() != "progress") {
            names.push_back(name);
        }
    }
    return names;
}

// The events named name, in order.
inline std::vector<Json> Named(const std::vector<Json>& events, const std::string& name) {
    std::vector<Json> found;
    for (const Json& event : events) {
        if (event.value("event", std::string()) == name) {
            found.push_back(event);
        }
    }
    return found;
}

// The one event named name.
inline Json Only(const std::vector<Json>& events, const std::string& name) {
    const std::vector<Json> found = Named(events, name);
    EXPECT_EQ(found.size(), 1u) << name;
    return found.empty() ? Json() : found.front();
}

// The schema accepts every line of the file (validate-events.py says why
// not for each line it refuses).
inline void ExpectValid(const std::string& path) {
    harness::ProcessOptions options;
    options.binary = "/usr/bin/python3";
    options.args = {VANTOIR_SOURCE_DIR "/tests/support/validate-events.py",
                    VANTOIR_SOURCE_DIR "/docs/events.schema.json", path};
    const harness::ProcessResult result = harness::Run(options, kGuardMs);
    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
}

// As ExpectValid, for events held in text (a run's standard output).
inline void ExpectValidText(const std::string& text) {
    ExpectValid(harness::WriteTempFile(text, "events.jsonl"));
}

// Every event has "v": 1, and "t" never decreases from one to the next.
inline void ExpectVersionAndTimeInOrder(const std::vector<Json>& events) {
    double last = 0;
    for (const Json& event : events) {
        EXPECT_EQ(event["v"], 1) << event.dump();
        const double t = event["t"].get<double>();
        EXPECT_GE(t, last) << event.dump();
        last = t;
    }
}

// text without its progress tokens ("\r100 lines uploaded (40%)"): how many
// an upload cut short shows depends on the moment it was cut.
inline std::string WithoutProgress(const std::string& text) {
    static const std::regex progress("\r?[0-9]+ lines uploaded \\([0-9]+%\\)");
    return std::regex_replace(text, progress, "");
}

// Each progress event as "LINES PERCENT" ("LINES PERCENT last" for the last).
inline std::vector<std::string> ProgressTold(const std::vector<Json>& events) {
    std::vector<std::string> told;
    for (const Json& event : Named(events, "progress")) {
        told.push_back(std::to_string(event["lines"].get<int>()) + " " +
                       std::to_string(event["percent"].get<int>()) +
                       (event["last"].get<bool>() ? " last" : ""));
    }
    return told;
}

// Each progress token shown in out, as ProgressTold gives it: the one before
// a line end is the last of its upload.
inline std::vector<std::string> ProgressShown(const std::string& out) {
    static const std::regex progress("([0-9]+) lines uploaded \\(([0-9]+)%\\)(\n?)");
    std::vector<std::string> shown;
    for (auto match = std::sregex_iterator(out.begin(), out.end(), progress);
         match != std::sregex_iterator(); ++match) {
        shown.push_back((*match)[1].str() + " " + (*match)[2].str() +
                        ((*match)[3].length() > 0 ? " last" : ""));
    }
    return shown;
}

// text with every occurrence of from replaced by to.
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); !from.empty() && at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// One run of vantoir with its own board (none: the port is in the arguments).
struct OneRun {
    std::unique_ptr<sim::Board> board;
    std::vector<std::string> args;
    std::unique_ptr<harness::ChildProcess> child;
    harness::ProcessResult result;
    std::string port;  // as given; empty without a board
};

// The same run twice at once, each against a board of its own made of the
// same config: `events` with --events and --report REPORT added, `plain`
// without --events (with a --report of its own, so that only --events tells
// them apart).
class TwinRuns {
  public:
    // config: the boards' (nothing: no board; args name the port); args: the
    // run's arguments, after "-P PORT" when there is a board; eventsTo: the
    // value of --events (empty: a new file, eventsPath).
    TwinRuns(const std::optional<sim::BoardConfig>& config, const std::vector<std::string>& args,
             const std::string& eventsTo = std::string())
        : eventsPath(eventsTo.empty() ? harness::WriteTempFile("", "run.events.jsonl") : eventsTo),
          reportPath(harness::WriteTempFile("", "run.report.jsonl")) {
        for (OneRun* run : {&events, &plain}) {
            if (config) {
                run->board = harness::StartBoard(*config);
                run->port = harness::PortName(*run->board);
                run->args = {"-P", run->port};
            }
            run->args.insert(run->args.end(), args.begin(), args.end());
        }
        events.args.insert(events.args.end(), {"--events", eventsPath, "--report", reportPath});
        plain.args.insert(plain.args.end(),
                          {"--report", harness::WriteTempFile("", "plain.report.jsonl")});
    }

    void Start(harness::InputKind input = harness::InputKind::Null) {
        for (OneRun* run : {&events, &plain}) {
            harness::ProcessOptions options;
            options.args = run->args;
            options.inputKind = input;
            run->child = std::make_unique<harness::ChildProcess>(options);
        }
    }

    // Does the same to both runs, the one with events first.
    void Each(const std::function<void(OneRun&)>& step) {
        step(events);
        step(plain);
    }

    // Waits for both to end.
    void Wait() {
        Each([](OneRun& run) { run.result = run.child->Wait(kGuardMs); });
    }

    // Runs both to their end.
    void Run(harness::InputKind input = harness::InputKind::Null) {
        Start(input);
        Wait();
    }

    // The events the first run wrote (to its standard output with
    // --events -); each is checked against the schema.
    std::vector<Json> Events() const {
        const bool toOutput = eventsPath == "-";
        const std::string path =
            toOutput ? harness::WriteTempFile(events.result.out, "out.events.jsonl") : eventsPath;
        ExpectValid(path);
        const std::vector<Json> read = ReadEvents(path);
        ExpectVersionAndTimeInOrder(read);
        return read;
    }

    // What ExpectSameOutput leaves out: the progress tokens of an upload cut
    // short, standard error when the error said depends on the moment.
    enum Leave { kNothing = 0, kProgress = 1, kError = 2 };

    // --events changes nothing on standard output and standard error but
    // the echo line (each run names its own port there and in its
    // messages), nor the exit status.
    void ExpectSameOutput(int leave = kNothing) const {
        std::string shown[2];
        std::string said[2];
        int index = 0;
        for (const OneRun* run : {&events, &plain}) {
            const std::string echo = download_test::EchoLine(run->args);
            const std::string& out = run->result.out;
            EXPECT_EQ(out.compare(0, echo.size(), echo), 0) << out;
            shown[index] =
                Replaced(out.substr(std::min(echo.size(), out.size())), run->port, "PORT");
            said[index] = Replaced(run->result.err, run->port, "PORT");
            if ((leave & kProgress) != 0) {
                shown[index] = WithoutProgress(shown[index]);
            }
            ++index;
        }
        EXPECT_EQ(shown[0], shown[1]);
        if ((leave & kError) == 0) {
            EXPECT_EQ(said[0], said[1]);
        }
        EXPECT_EQ(events.result.exitStatus, plain.result.exitStatus);
        EXPECT_EQ(events.result.termSignal, plain.result.termSignal);
    }

    // Each board-end's record is, as JSON, the line --report wrote for it.
    void ExpectRecordsAsReported(const std::vector<Json>& read) const {
        const std::vector<Json> ends = Named(read, "board-end");
        const std::vector<Json> records = report_test::ReadRecords(reportPath);
        ASSERT_EQ(ends.size(), records.size());
        for (size_t i = 0; i < ends.size(); ++i) {
            EXPECT_EQ(ends[i]["record"], records[i]) << "board " << i + 1;
            EXPECT_EQ(ends[i]["outcome"], records[i]["outcome"]);
            EXPECT_EQ(ends[i]["exit_status"], records[i]["exit_status"]);
            EXPECT_EQ(ends[i]["board_number"], records[i]["board_number"]);
        }
    }

    OneRun events;
    OneRun plain;
    std::string eventsPath;
    std::string reportPath;
};

}  // namespace events_test
