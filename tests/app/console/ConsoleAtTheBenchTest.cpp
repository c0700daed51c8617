// What a console adds at the bench, end to end with the real program and the
// simulated board: --monitor (the download goes on as a console on the same
// port), --reconnect (a console that outlives its port going away), --log and
// --timestamps, and where these switches are refused.

#include <gtest/gtest.h>
#include <signal.h>

#include <cctype>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "tests/app/report/ReportRecords.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"

namespace {

constexpr int kGuardMs = 20000;
const std::string kBanner = "Entering Console mode...\n";
const std::string kMonitorBanner = "Entering Console mode on the same port (Ctrl-C ends it)...\n";

std::string EchoLine(const std::vector<std::string>& args) {
    std::string line = "Parsed command line:";
    for (const std::string& arg : args) {
        line += " " + arg;
    }
    return line + "\n";
}

std::string WithoutFirstLine(const std::string& text) {
    const size_t end = text.find('\n');
    return end == std::string::npos ? std::string() : text.substr(end + 1);
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string GoneLine(const std::string& port) {
    return "Port " + port + " went away; waiting for it to come back (Ctrl-C ends the wait)...\n";
}

// The program started with a keyboard terminal, ended by Ctrl-C.
class BenchRun {
  public:
    explicit BenchRun(const std::vector<std::string>& runArgs) : args(runArgs) {
        harness::ProcessOptions options;
        options.args = args;
        options.inputKind = harness::InputKind::Terminal;
        child = std::make_unique<harness::ChildProcess>(options);
    }

    void AwaitOutput(const std::string& text) {
        ASSERT_TRUE(child->WaitForStdout(text, kGuardMs))
            << "stdout: " << child->Stdout() << "\nstderr: " << child->Stderr();
    }

    // Ctrl-C on the keyboard, once the program takes it key by key (under
    // Wine a moment after the console started: a Ctrl-C typed before may be
    // lost).
    harness::ProcessResult Interrupt() {
        EXPECT_TRUE(child->WaitForKeyAtATime(kGuardMs));
        child->WriteKeys("\x03");
        harness::ProcessResult result = child->Wait(kGuardMs);
        harness::ReportInterruptAsNative(result);
        return result;
    }

    std::vector<std::string> args;
    std::unique_ptr<harness::ChildProcess> child;
};

void ExpectEndedByInterrupt(const harness::ProcessResult& result) {
    EXPECT_FALSE(result.timedOut) << harness::Describe(result);
    EXPECT_EQ(result.termSignal, SIGINT) << harness::Describe(result);
    EXPECT_EQ(result.err, "");
}

// --- --monitor ------------------------------------------------------------

sim::BoardConfig TalkativeProgram() {
    sim::BoardConfig config;
    config.programLines = 3;
    config.programIntervalMs = 20;
    return config;
}

const std::string kProgramOutput = "program line 1\r\nprogram line 2\r\nprogram line 3\r\n";
// The console shows all the board sends after the last answer the session
// read up to its CR: first the LF that ends that answer ("+12\r\n").
const std::string kAfterLastAnswer = "\n";

TEST(Monitor, ShowsTheProgramFromItsFirstByteAfterAPlainDownload) {
    const std::string content = harness::SampleHex(12);
    const std::string hex = harness::WriteTempFile(content);
    auto plainBoard = harness::StartBoard(TalkativeProgram());
    const harness::ProcessResult plain =
        harness::RunVantoir({"-P", harness::PortName(*plainBoard), "-F", hex}, kGuardMs);
    ASSERT_EQ(plain.exitStatus, 0) << harness::Describe(plain);

    auto board = harness::StartBoard(TalkativeProgram());
    BenchRun run({"-P", harness::PortName(*board), "-F", hex, "--monitor"});
    run.AwaitOutput(kProgramOutput);
    // The console is live: a key typed now reaches the program.
    run.child->WriteKeys("k");
    ASSERT_TRUE(board->WaitForReceived("S\r\nk", kGuardMs)) << board->Received();
    const harness::ProcessResult result = run.Interrupt();

    ExpectEndedByInterrupt(result);
    EXPECT_EQ(result.out, EchoLine(run.args) + WithoutFirstLine(plain.out) +
                              kMonitorBanner + kAfterLastAnswer + kProgramOutput);
    // As a plain download's (how often "?" went out before the answer came
    // depends on the machine's pace), then the key.
    download_test::ExpectSessionOnWire(board->Received(), download_test::OnWire(content),
                                       "S\r\nk");
}

TEST(Monitor, AnIncompleteDownloadEndsAsWithoutIt) {
    sim::BoardConfig config = TalkativeProgram();
    config.countOffset = 1;
    const std::string content = harness::SampleHex(5);
    const std::string hex = harness::WriteTempFile(content);
    auto plainBoard = harness::StartBoard(config);
    const harness::ProcessResult plain =
        harness::RunVantoir({"-P", harness::PortName(*plainBoard), "-F", hex}, kGuardMs);
    auto board = harness::StartBoard(config);
    const std::vector<std::string> args = {"-P", harness::PortName(*board), "-F", hex,
                                           "--monitor"};

    const harness::ProcessResult result = harness::RunVantoir(args, kGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.out,
              EchoLine(args) + WithoutFirstLine(plain.out));
    EXPECT_EQ(result.err, plain.err);
    download_test::ExpectSessionOnWire(board->Received(), download_test::OnWire(content),
                                       "");
}

TEST(Monitor, WithoutStartTheConsoleTalksToTheBootLoader) {
    const std::string hex = harness::WriteTempFile(harness::SampleHex(4));
    sim::BoardConfig config;
    config.expectStart = false;
    auto board = harness::StartBoard(config);
    BenchRun run({"-P", harness::PortName(*board), "-F", hex, "-L", "--monitor"});
    run.AwaitOutput(kMonitorBanner);
    run.child->WaitForKeyAtATime(kGuardMs);

    run.child->WriteKeys("?\r\n");
    run.AwaitOutput("+KELVOR DSP boot loader 2.4\r\n");
    const harness::ProcessResult result = run.Interrupt();

    ExpectEndedByInterrupt(result);
    EXPECT_EQ(board->Received().find("S\r\n"), std::string::npos) << board->Received();
    EXPECT_EQ(board->Summary().polls, 2);
}

TEST(Monitor, TheRecordSaysTheDownloadWasCompleteAndAConsoleFollowed) {
    const std::string hex = harness::WriteTempFile(harness::SampleHex(6));
    const std::string records = harness::WriteTempFile("", "records.jsonl");
    auto board = harness::StartBoard(TalkativeProgram());
    BenchRun run({"-P", harness::PortName(*board), "-F", hex, "--monitor", "--report", records});
    run.AwaitOutput(kProgramOutput);
    ExpectEndedByInterrupt(run.Interrupt());

    const report_test::Json record = report_test::OnlyRecord(records);
    EXPECT_EQ(record["mode"], "download");
    EXPECT_EQ(record["outcome"], "complete");
    EXPECT_EQ(record["start_sent"], true);
    EXPECT_EQ(record["console_followed"], true);
    EXPECT_TRUE(record["exit_status"].is_null());
    EXPECT_EQ(record["signal"], harness::RunsWindowsBuild() ? "CTRL_C" : "SIGINT");

    // A run without --monitor keeps its record as it was.
    const std::string plainRecords = harness::WriteTempFile("", "plain.jsonl");
    auto plainBoard = harness::StartBoard();
    harness::RunVantoir(
        {"-P", harness::PortName(*plainBoard), "-F", hex, "--report", plainRecords}, kGuardMs);
    EXPECT_FALSE(report_test::OnlyRecord(plainRecords).contains("console_followed"));
}

// --- Where the switches are refused ---------------------------------------

struct Refusal {
    std::vector<std::string> args;
    std::string message;
};

TEST(ConsoleSwitches, AreRefusedWhereThereIsNoConsole) {
    const std::string needs = " needs a console: it can only be used with -C or --monitor\n";
    const std::string oneBoard =
        "Switch --monitor watches one board: it cannot be used with --repeat, --boards or --gang\n";
    const std::vector<Refusal> refusals = {
        {{"-F", "x.hex", "--reconnect"}, "Switch --reconnect" + needs},
        {{"-F", "x.hex", "--log", "board.log"}, "Switch --log" + needs},
        {{"-F", "x.hex", "--timestamps"}, "Switch --timestamps" + needs},
        {{"-R", "-F", "x.hex", "--timestamps-iso"}, "Switch --timestamps-iso" + needs},
        {{"-F", "x.hex", "--monitor", "--repeat"}, oneBoard},
        {{"-F", "x.hex", "--monitor", "--boards", "3"}, oneBoard},
        {{"-F", "x.hex", "--monitor", "--gang", "COM1,COM2"}, oneBoard},
        {{"-C", "--monitor"},
         "Switch --monitor needs download mode: it cannot be used with -C or -R\n"},
    };
    for (const Refusal& refusal : refusals) {
        std::vector<std::string> args = {"-P", "/dev/vantoir-no-such-port"};
        args.insert(args.end(), refusal.args.begin(), refusal.args.end());
        const harness::ProcessResult result = harness::RunVantoir(args, kGuardMs);
        EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
        EXPECT_EQ(result.out, "") << refusal.message;
        EXPECT_EQ(result.err, refusal.message);
    }
}

TEST(ConsoleSwitches, ALogThatCannotBeOpenedEndsTheRunBeforeThePort) {
    auto board = harness::StartBoard();
    const std::string log = harness::WriteTempFile("", "x") + ".missing/board.log";
    const std::vector<std::string> args = {"-P", harness::PortName(*board), "-C", "--log", log};

    const harness::ProcessResult result = harness::RunVantoir(args, kGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.out, EchoLine(args));
    EXPECT_EQ(result.err, "Can't open log file " + log + "\n");
    EXPECT_EQ(board->BytesReceived(), 0);
}

// --- --log and --timestamps -----------------------------------------------

// A console on a board that only sends what the test gives it.
class LoggedConsole : public ::testing::Test {
  protected:
    void Start(std::vector<std::string> extra) {
        sim::BoardConfig config;
        config.loaderProtocol = false;
        board = harness::StartBoard(config);
        port = harness::PortName(*board);
        std::vector<std::string> args = {"-P", port, "-C"};
        args.insert(args.end(), extra.begin(), extra.end());
        run = std::make_unique<BenchRun>(args);
        run->AwaitOutput(kBanner);
    }

    // The header a console writes into its log when it starts.
    void ExpectStartHeader(const std::string& line) { ExpectStartHeader(line, port); }
    void ExpectStartHeader(const std::string& line, const std::string& headerPort) {
        ASSERT_GT(line.size(), 24u) << line;
        EXPECT_EQ(line.substr(0, 4), "=== ");
        EXPECT_TRUE(IsDateTime(line.substr(4, 19))) << line;
        EXPECT_EQ(line.substr(23), " console on " + headerPort + " at 115200 baud ===\n");
    }

    static bool IsDateTime(const std::string& text) {
        const std::string shape = "dddd-dd-dd dd:dd:dd";
        if (text.size() != shape.size()) {
            return false;
        }
        for (size_t i = 0; i < shape.size(); ++i) {
            const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
            if (shape[i] == 'd' ? !digit : text[i] != shape[i]) {
                return false;
            }
        }
        return true;
    }

    std::unique_ptr<sim::Board> board;
    std::string port;
    std::unique_ptr<BenchRun> run;
};

TEST_F(LoggedConsole, TheLogHoldsExactlyTheBytesShownAfterItsHeader) {
    const std::string log = harness::WriteTempFile("", "board.log");
    Start({"--log", log});
    std::string bytes;
    for (int value = 0; value < 256; ++value) {
        bytes += static_cast<char>(value);
    }
    bytes += "line\r\nnext\n\rlast";
    board->Send(bytes);
    run->AwaitOutput(bytes);
    // Written as it arrives: the log holds it while the console still runs.
    const std::string logged = ReadFile(log);
    const harness::ProcessResult result = run->Interrupt();

    ExpectEndedByInterrupt(result);
    EXPECT_EQ(result.out, EchoLine(run->args) + kBanner + bytes);
    const size_t headerEnd = logged.find('\n');
    ASSERT_NE(headerEnd, std::string::npos);
    ExpectStartHeader(logged.substr(0, headerEnd + 1));
    EXPECT_EQ(logged.substr(headerEnd + 1), bytes);
}

TEST_F(LoggedConsole, EachConsoleAppendsToTheLog) {
    const std::string log = harness::WriteTempFile("earlier\n", "board.log");
    Start({"--log", log});
    board->Send("first run\r\n");
    run->AwaitOutput("first run\r\n");
    ExpectEndedByInterrupt(run->Interrupt());
    const std::string firstPort = port;
    Start({"--log", log});
    board->Send("second run\r\n");
    run->AwaitOutput("second run\r\n");
    ExpectEndedByInterrupt(run->Interrupt());

    std::istringstream lines(ReadFile(log));
    std::vector<std::string> logged;
    for (std::string line; std::getline(lines, line);) {
        logged.push_back(line + "\n");
    }
    ASSERT_EQ(logged.size(), 5u) << ReadFile(log);
    EXPECT_EQ(logged[0], "earlier\n");
    ExpectStartHeader(logged[1], firstPort);
    EXPECT_EQ(logged[2], "first run\r\n");
    ExpectStartHeader(logged[3]);
    EXPECT_EQ(logged[4], "second run\r\n");
}

// The board's output as shown, split into its stamps and the text after each.
struct Stamped {
    std::vector<std::string> stamps;
    std::string text;  // the output with the stamps taken out
};

Stamped TakeStamps(const std::string& shown, size_t stampLength) {
    Stamped result;
    size_t at = 0;
    while (at < shown.size()) {
        if (shown[at] == '[' && at + stampLength <= shown.size()) {
            result.stamps.push_back(shown.substr(at, stampLength));
            at += stampLength;
        } else {
            result.text += shown[at++];
        }
    }
    return result;
}

bool IsElapsedStamp(const std::string& stamp) {
    // "[  12.345] "
    if (stamp.size() != 11 || stamp[0] != '[' || stamp[5] != '.' || stamp.substr(9) != "] ") {
        return false;
    }
    for (size_t i = 1; i < 9; ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(stamp[i])) != 0;
        if (i != 5 && !digit && !(i < 4 && stamp[i] == ' ')) {
            return false;
        }
    }
    return true;
}

TEST_F(LoggedConsole, TimestampsStampEachLineAtItsFirstByteWithoutHoldingItBack) {
    const std::string log = harness::WriteTempFile("", "board.log");
    Start({"--timestamps", "--log", log});
    board->Send("one\r\ntwo\nthr");
    // A line still growing is shown as far as it came.
    run->AwaitOutput("] thr");
    board->Send("ee\rfour\r");
    run->AwaitOutput("] four\r");
    board->Send("\nfive");
    run->AwaitOutput("five");
    const harness::ProcessResult result = run->Interrupt();
    ExpectEndedByInterrupt(result);

    const std::string shown = result.out.substr((EchoLine(run->args) + kBanner).size());
    const Stamped stamped = TakeStamps(shown, 11);
    EXPECT_EQ(stamped.text, "one\r\ntwo\nthree\rfour\r\nfive");
    ASSERT_EQ(stamped.stamps.size(), 5u) << shown;
    for (size_t i = 0; i < stamped.stamps.size(); ++i) {
        EXPECT_TRUE(IsElapsedStamp(stamped.stamps[i])) << stamped.stamps[i];
        if (i > 0) {
            EXPECT_LE(stamped.stamps[i - 1], stamped.stamps[i]) << "stamps out of order";
        }
    }
    // The stamp follows each line start, nowhere else.
    EXPECT_EQ(shown.substr(0, 11), stamped.stamps[0]);
    EXPECT_NE(shown.find("\n" + stamped.stamps[1] + "two"), std::string::npos) << shown;
    EXPECT_NE(shown.find("three\r" + stamped.stamps[3] + "four"), std::string::npos) << shown;
    EXPECT_NE(shown.find("four\r\n" + stamped.stamps[4] + "five"), std::string::npos) << shown;
    // The log holds the same text, stamps included.
    const std::string logged = ReadFile(log);
    EXPECT_EQ(logged.substr(logged.find('\n') + 1), shown);
}

TEST_F(LoggedConsole, IsoTimestampsGiveTheLocalDateAndTime) {
    Start({"--timestamps-iso"});
    board->Send("alpha\nbeta\n");
    run->AwaitOutput("beta\n");
    const harness::ProcessResult result = run->Interrupt();
    ExpectEndedByInterrupt(result);

    const std::string shown = result.out.substr((EchoLine(run->args) + kBanner).size());
    // "[2026-12-09 15:04:05.123] "
    const Stamped stamped = TakeStamps(shown, 26);
    EXPECT_EQ(stamped.text, "alpha\nbeta\n");
    ASSERT_EQ(stamped.stamps.size(), 2u) << shown;
    for (const std::string& stamp : stamped.stamps) {
        EXPECT_TRUE(IsDateTime(stamp.substr(1, 19))) << stamp;
        EXPECT_EQ(stamp[20], '.') << stamp;
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(stamp[23])) != 0) << stamp;
        EXPECT_EQ(stamp.substr(24), "] ") << stamp;
    }
}

// --- --reconnect ----------------------------------------------------------

// A console on a board whose port goes away and comes back at the same path.
class ReconnectingConsole : public ::testing::Test {
  protected:
    void Start(std::vector<std::string> extra, sim::BoardConfig config = {}) {
        config.loaderProtocol = false;
        board = harness::StartBoard(config);
        port = harness::LinkedPortName(*board);
        std::vector<std::string> args = {"-P", port, "-C", "--reconnect"};
        args.insert(args.end(), extra.begin(), extra.end());
        run = std::make_unique<BenchRun>(args);
        run->AwaitOutput(kBanner);
        ASSERT_TRUE(run->child->WaitForKeyAtATime(kGuardMs));
    }

    std::string BackLine() const {
        return "Port " + port + " is back as " + port + "; Console mode goes on.\n";
    }

    std::unique_ptr<sim::Board> board;
    std::string port;
    std::unique_ptr<BenchRun> run;
};

TEST_F(ReconnectingConsole, GoesOnAtTheSamePathAndDropsTheKeysTypedMeanwhile) {
    const std::string log = harness::WriteTempFile("", "board.log");
    Start({"--log", log});
    board->Send("before, unfinished");
    run->AwaitOutput("unfinished");

    board->Vanish();
    run->AwaitOutput(GoneLine(port));
    // Wine's console hands keys to the program late (even after the port is
    // back): there the keys typed meanwhile cannot be told from later ones.
    if (!harness::RunsWindowsBuild()) {
        run->child->WriteKeys("lost");
    }
    board->Reappear();
    run->AwaitOutput(BackLine());
    board->Send("after\r\n");
    run->AwaitOutput("after\r\n");
    run->child->WriteKeys("k");
    ASSERT_TRUE(board->WaitForReceived("k", kGuardMs)) << board->Received();
    const harness::ProcessResult result = run->Interrupt();

    ExpectEndedByInterrupt(result);
    EXPECT_EQ(result.out, EchoLine(run->args) + kBanner + "before, unfinished\n" + GoneLine(port) +
                              BackLine() + "after\r\n");
    EXPECT_EQ(board->Received(), "k");
    // The log: its header, the bytes, and a header for the reconnect on a
    // line of its own.
    const std::string logged = ReadFile(log);
    const size_t firstEnd = logged.find('\n');
    ASSERT_NE(firstEnd, std::string::npos) << logged;
    const std::string rest = logged.substr(firstEnd + 1);
    ASSERT_EQ(rest.substr(0, 19), "before, unfinished\n") << logged;
    const std::string header = rest.substr(19, rest.find('\n', 19) - 19 + 1);
    EXPECT_EQ(header.substr(0, 4), "=== ") << logged;
    EXPECT_EQ(header.substr(23), " reconnected to " + port + " at 115200 baud ===\n") << logged;
    EXPECT_EQ(rest.substr(19 + header.size()), "after\r\n") << logged;
}

TEST_F(ReconnectingConsole, CtrlCEndsTheWaitAtOnce) {
    Start({});
    board->Vanish();
    run->AwaitOutput(GoneLine(port));

    const harness::ProcessResult result = run->Interrupt();

    ExpectEndedByInterrupt(result);
    EXPECT_EQ(result.out, EchoLine(run->args) + kBanner + GoneLine(port));
}

TEST_F(ReconnectingConsole, TimestampsGoOnCountingAcrossTheReconnect) {
    Start({"--timestamps"});
    board->Send("one\r\n");
    run->AwaitOutput("one\r\n");
    board->Vanish();
    run->AwaitOutput(GoneLine(port));
    board->Reappear();
    run->AwaitOutput(BackLine());
    board->Send("two");
    run->AwaitOutput("two");
    const harness::ProcessResult result = run->Interrupt();
    ExpectEndedByInterrupt(result);

    const std::string shown = result.out.substr((EchoLine(run->args) + kBanner).size());
    const Stamped stamped = TakeStamps(shown, 11);
    ASSERT_EQ(stamped.stamps.size(), 2u) << shown;
    EXPECT_EQ(stamped.text, "one\r\n" + GoneLine(port) + BackLine() + "two");
    EXPECT_LT(stamped.stamps[0], stamped.stamps[1]);
}

TEST(Reconnect, WithoutItAPortThatGoesAwayEndsTheConsoleAsBefore) {
    sim::BoardConfig config;
    config.loaderProtocol = false;
    auto board = harness::StartBoard(config);
    BenchRun run({"-P", harness::LinkedPortName(*board), "-C"});
    run.AwaitOutput(kBanner);

    board->Vanish();
    harness::ProcessResult result = run.child->Wait(kGuardMs);

    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, "Error occurred: COMPort: read failed.\n");
}

TEST(Reconnect, AfterMonitorTheProgramIsFollowedAcrossTheReconnect) {
    const std::string hex = harness::WriteTempFile(harness::SampleHex(5));
    auto board = harness::StartBoard(TalkativeProgram());
    const std::string port = harness::LinkedPortName(*board);
    BenchRun run({"-P", port, "-F", hex, "--monitor", "--reconnect"});
    run.AwaitOutput(kProgramOutput);

    board->Vanish();
    run.AwaitOutput(GoneLine(port));
    board->Reappear();
    run.AwaitOutput("is back as ");
    board->Send("still running\r\n");
    run.AwaitOutput("still running\r\n");
    const harness::ProcessResult result = run.Interrupt();

    ExpectEndedByInterrupt(result);
    EXPECT_NE(result.out.find(kMonitorBanner + kAfterLastAnswer + kProgramOutput + GoneLine(port) + "Port " + port +
                              " is back as " + port + "; Console mode goes on.\nstill running\r\n"),
              std::string::npos)
        << result.out;
}

}  // namespace
