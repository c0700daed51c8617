// The kelvor-sim program: its command line, its port, its exit status, and a
// real vantoir download against it.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/HexRecord.h"
#include "sim/SimOptions.h"
#include "tests/support/Harness.h"
#include "tests/support/ScriptedHost.h"

namespace {

using harness::ChildProcess;
using harness::ProcessOptions;
using harness::ProcessResult;

constexpr int kGuardMs = 20000;

ProcessOptions Sim(const std::vector<std::string>& args) {
    ProcessOptions options;
    options.binary = KELVOR_SIM_BINARY;
    options.args = args;
    return options;
}

// The port path the program printed as its first line.
std::string PortOf(ChildProcess& sim) {
    EXPECT_TRUE(sim.WaitForStdout("\n", kGuardMs));
    std::string out = sim.Stdout();
    return out.substr(0, out.find('\n'));
}

const std::string kRecord = sim::FormatRecord(0x0000, 0, {1, 2, 3}) + "\r\n";

// The numbers of the "program line N" lines of text, in order.
std::vector<int> ProgramLines(const std::string& text) {
    std::vector<int> numbers;
    const std::string mark = "program line ";
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1)) {
        const size_t end = text.find("\r\n", at);
        if (end != std::string::npos) {
            numbers.push_back(std::stoi(text.substr(at + mark.size(), end - at - mark.size())));
        }
    }
    return numbers;
}

// The host's end of the port at link once it is there again, or nullptr
// when it has not come back within the guard.
std::unique_ptr<harness::ScriptedHost> OpenWhenBack(const std::string& link) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
    while (std::chrono::steady_clock::now() < deadline) {
        try {
            return std::make_unique<harness::ScriptedHost>(link);
        } catch (const std::runtime_error&) {
            poll(nullptr, 0, 10);  // the link is not there yet
        }
    }
    return nullptr;
}

}  // namespace

TEST(SimCommandLine, HelpDescribesTheOptionsAndExitStatus) {
    ProcessResult result = harness::Run(Sim({"--help"}), kGuardMs);
    EXPECT_EQ(result.exitStatus, 0);
    for (const char* option :
         {"--link PATH", "--exit-after-start", "--timeout S", "--log FILE", "--baud N",
          "--silent-polls N", "--count-reply TEXT", "--hang-up-after-records N", "Exit status:"}) {
        EXPECT_NE(result.out.find(option), std::string::npos) << option;
    }
}

TEST(SimCommandLine, RejectsBadArgumentsWithStatus2) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--bogus"},
                                          {"--silent-polls"},
                                          {"--silent-polls", "-1"},
                                          {"--baud", "fast"},
                                          {"--timeout", "0"},
                                          {"--echo=yes"},
                                          {"--identity", "bad\\q"}}) {
        ProcessResult result = harness::Run(Sim(args), kGuardMs);
        EXPECT_EQ(result.exitStatus, sim::kExitUsage) << args[0];
        EXPECT_NE(result.err.find("kelvor-sim: "), std::string::npos);
        EXPECT_EQ(result.out, "");
    }
}

TEST(SimCommandLine, ParsesValuesInBothFormsAndTextEscapes) {
    sim::SimOptions options = sim::ParseSimOptions(
        {"--identity=A\\x41\\tB\\r\\n\\\\", "--count-offset", "-2", "--greeting", "one",
         "--greeting=two", "--timeout", "1.5", "--no-start-expected", "--long-line", "3"});
    ASSERT_EQ(options.error, "");
    EXPECT_EQ(options.config.identity, "AA\tB\r\n\\");
    EXPECT_EQ(options.config.countOffset, -2);
    EXPECT_EQ(options.config.greeting, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(options.config.runTimeoutMs, 1500);
    EXPECT_FALSE(options.config.expectStart);
    EXPECT_EQ(options.config.noiseOnConnect, "xxx");
}

TEST(SimCommandLine, TakesTheUsbFunctionsLinesAndRefusesThemWithoutIt) {
    sim::SimOptions options =
        sim::ParseSimOptions({"--usb-acm", "dummy_udc.0", "--line-log", "lines.txt", "--power-line",
                              "rts", "--start-signal=ri", "--signal-gap", "50"});
    ASSERT_EQ(options.error, "");
    EXPECT_EQ(options.gadget.controller, "dummy_udc.0");
    EXPECT_EQ(options.gadget.lineLogPath, "lines.txt");
    EXPECT_EQ(options.gadget.powerLine, sim::AcmLine::Rts);
    EXPECT_EQ(options.gadget.startSignal, sim::AcmLine::Ri);
    EXPECT_EQ(options.gadget.signalGapMs, 50);
    // An output line cannot be a start signal, nor an input line the power.
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--usb-acm", "dummy_udc.0", "--power-line", "dsr"},
          {"--usb-acm", "dummy_udc.0", "--start-signal", "dtr"},
          {"--usb-acm", "dummy_udc.0", "--start-signal", "cts"},
          {"--usb-acm", "../udc"},
          {"--line-log", "lines.txt"},
          {"--power-line", "dtr"},
          {"--usb-acm", "dummy_udc.0", "--link", "/tmp/kelvor"}}) {
        EXPECT_NE(sim::ParseSimOptions(args).error, "") << args[args.size() - 2];
    }
}

// --off: the board answers nothing until it is switched on (here by
// vantoir's power command, with SIGUSR2).
TEST(SimProgram, StartsSwitchedOffWithOff) {
    ChildProcess sim(Sim({"--off", "--exit-after-start"}));
    std::string port = PortOf(sim);
    std::string hex = harness::WriteTempFile(harness::SampleHex(5));
    ProcessResult silent = harness::RunVantoir({"-P", port, "-F", hex, "--timeout", "1"}, kGuardMs);
    EXPECT_EQ(silent.exitStatus, 1) << harness::Describe(silent);
    ProcessResult host = harness::RunVantoir(
        {"-P", port, "-F", hex, "--power-command", "kill -USR2 " + std::to_string(sim.Pid())},
        kGuardMs);
    EXPECT_EQ(host.exitStatus, 0) << harness::Describe(host);
    EXPECT_EQ(sim.Wait(kGuardMs).exitStatus, sim::kExitDownloadComplete);
}

// The production guide's rehearsal of board after board, as pasted: SIGUSR1
// and SIGUSR2 sent straight one after the other still switch the board off
// (long enough for vantoir to see it gone) and on again.
TEST(SimProgram, PowerSignalsSentBackToBackAreEachTaken) {
    ChildProcess sim(Sim({"--quiet"}));
    const std::string port = PortOf(sim);
    ProcessOptions options;
    options.args = {"-P",       port, "-F", harness::WriteTempFile(harness::SampleHex(10)),
                    "--boards", "2"};
    ChildProcess run(options);
    ASSERT_TRUE(run.WaitForStdout("Take board 1 away", kGuardMs)) << run.Stdout();

    ASSERT_EQ(kill(sim.Pid(), SIGUSR1), 0);
    ASSERT_EQ(kill(sim.Pid(), SIGUSR2), 0);
    const ProcessResult result = run.Wait(kGuardMs);
    sim.Signal(SIGINT);
    sim.Wait(kGuardMs);

    EXPECT_EQ(result.exitStatus, 0) << harness::Describe(result);
    EXPECT_NE(result.out.find("Boards in all: 2 complete, 0 failed.\n"), std::string::npos)
        << result.out;
}

TEST(SimProgram, PrintsItsPortAndLinksItUntilItEnds) {
    std::string link = harness::WriteTempFile("", "placeholder") + ".port";
    ChildProcess sim(Sim({"--link", link}));
    std::string port = PortOf(sim);
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(port, target);
    {
        harness::ScriptedHost host(link);
        host.Write("?\r\n");
        EXPECT_TRUE(host.ReadUntil("+KELVOR", kGuardMs));
    }
    sim.Signal(SIGINT);
    ProcessResult result = sim.Wait(kGuardMs);
    EXPECT_EQ(result.exitStatus, sim::kExitDownloadIncomplete);
    EXPECT_NE(result.err.find("download complete: no"), std::string::npos) << result.err;
    EXPECT_NE(access(link.c_str(), F_OK), 0) << "the link is removed";
}

// The console rehearsal of the simulated-board guide: the port goes away
// (--vanish-after) and comes back (--vanish-for); the started program goes
// on where it was, its next line first. Its lines come 400 ms apart, the
// port goes 1000 ms after the start, between two of them.
TEST(SimProgram, TheStartedProgramGoesOnWhereItWasWhenItsPortComesBack) {
    const std::string link = harness::WriteTempFile("", "placeholder") + ".port";
    ChildProcess sim(Sim({"--link", link, "--quiet", "--program-lines", "6", "--program-interval",
                          "400", "--vanish-after", "1000", "--vanish-for", "300"}));
    PortOf(sim);
    std::string before;
    {
        harness::ScriptedHost host(link);
        ASSERT_TRUE(host.Write("S\r\n"));
        ASSERT_TRUE(host.WaitForHangUp(kGuardMs));
        before = host.Received();
    }
    const std::unique_ptr<harness::ScriptedHost> back = OpenWhenBack(link);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->ReadUntil("program line 6\r\n", kGuardMs)) << back->Received();
    sim.Signal(SIGINT);
    sim.Wait(kGuardMs);

    const std::vector<int> first = ProgramLines(before);
    const std::vector<int> then = ProgramLines(back->Received());
    ASSERT_FALSE(first.empty()) << before;
    ASSERT_FALSE(then.empty()) << back->Received();
    std::vector<int> all = first;
    all.insert(all.end(), then.begin(), then.end());
    EXPECT_EQ(all, (std::vector<int>{1, 2, 3, 4, 5, 6})) << "before: " << before;
}

TEST(SimProgram, ExitsWithSuccessAfterACompleteDownload) {
    ChildProcess sim(Sim({"--exit-after-start", "--start-message", "-Running"}));
    harness::ScriptedHost host(PortOf(sim));
    host.Write("?\r\nR\r\n" + kRecord + kRecord + "C\r\n");
    ASSERT_TRUE(host.ReadUntil("+2\r\n", kGuardMs));
    host.Write("S\r\n");
    ASSERT_TRUE(host.ReadUntil("-Running\r\n", kGuardMs)) << "sent before it ends";
    ProcessResult result = sim.Wait(kGuardMs);
    EXPECT_EQ(result.exitStatus, sim::kExitDownloadComplete) << result.err;
    EXPECT_NE(result.err.find("records received: 2 (0 with errors"), std::string::npos);
    EXPECT_NE(result.err.find("program started: yes"), std::string::npos);
}

TEST(SimProgram, ExitsWithFailureAfterABadDownloadOrTimeOut) {
    ChildProcess bad(Sim({"--exit-after-start", "--count-offset", "1"}));
    harness::ScriptedHost host(PortOf(bad));
    host.Write("R\r\n" + kRecord + "C\r\n");
    ASSERT_TRUE(host.ReadUntil("+2\r\n", kGuardMs));
    host.Write("S\r\n");
    EXPECT_EQ(bad.Wait(kGuardMs).exitStatus, sim::kExitDownloadIncomplete);

    ProcessResult idle = harness::Run(Sim({"--timeout", "0.1", "--quiet"}), kGuardMs);
    EXPECT_EQ(idle.exitStatus, sim::kExitDownloadIncomplete);
    EXPECT_EQ(idle.err, "") << "--quiet: no summary";
}

TEST(SimProgram, EndsWhenItHangsUp) {
    ChildProcess sim(Sim({"--hang-up-after-bytes", "2"}));
    harness::ScriptedHost host(PortOf(sim));
    host.Write("?\r\n");
    EXPECT_TRUE(host.WaitForHangUp(kGuardMs));
    ProcessResult result = sim.Wait(kGuardMs);
    EXPECT_EQ(result.exitStatus, sim::kExitDownloadIncomplete);
    EXPECT_NE(result.err.find("the board hung up"), std::string::npos);
}

// The road the demo takes: vantoir downloads a generated file to kelvor-sim.
TEST(SimWithVantoir, AcceptsACompleteDownload) {
    ChildProcess sim(Sim({"--exit-after-start", "--silent-polls", "3"}));
    std::string port = PortOf(sim);
    std::string hex = harness::WriteTempFile(harness::SampleHex(250));
    ProcessResult host = harness::RunVantoir({"-P", port, "-F", hex}, kGuardMs);
    EXPECT_EQ(host.exitStatus, 0) << harness::Describe(host);
    EXPECT_NE(host.out.find("File uploaded OK\n"), std::string::npos) << host.out;
    ProcessResult board = sim.Wait(kGuardMs);
    EXPECT_EQ(board.exitStatus, sim::kExitDownloadComplete) << board.err;
    EXPECT_NE(board.err.find("records received: 250 (0 with errors"), std::string::npos);
}
