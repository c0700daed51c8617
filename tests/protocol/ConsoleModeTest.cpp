// Console mode end to end: the real program with a simulated board on its
// port and a second pseudo-terminal as its keyboard and controlling terminal.

#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/PseudoTerminal.h"
#include "tests/support/Harness.h"

namespace {

constexpr int kGuardMs = 20000;
const std::string kBanner = "Entering Console mode...\n";

std::string EchoLine(const std::vector<std::string>& args) {
    std::string line = "Parsed command line:";
    for (const std::string& arg : args) {
        line += " " + arg;
    }
    return line + "\n";
}

// The settings a fresh keyboard terminal starts with, as the harness makes it.
termios FreshKeyboardSettings() {
    sim::PseudoTerminal keyboard(true, false);
    termios settings{};
    tcgetattr(keyboard.SlaveFd(), &settings);
    return settings;
}

void ExpectSameSettings(const termios& actual, const termios& expected) {
    EXPECT_EQ(actual.c_iflag, expected.c_iflag);
    EXPECT_EQ(actual.c_oflag, expected.c_oflag);
    EXPECT_EQ(actual.c_cflag, expected.c_cflag);
    EXPECT_EQ(actual.c_lflag, expected.c_lflag);
    EXPECT_EQ(std::memcmp(actual.c_cc, expected.c_cc, sizeof actual.c_cc), 0);
    EXPECT_EQ(cfgetispeed(&actual), cfgetispeed(&expected));
    EXPECT_EQ(cfgetospeed(&actual), cfgetospeed(&expected));
}

// A board that only records and sends what the test gives it, and the
// program in console mode on it, with the banner shown.
class ConsoleSession : public ::testing::Test {
  protected:
    void Start(harness::InputKind input = harness::InputKind::Terminal,
               const std::string& firstInput = "", bool closeInput = true,
               sim::BoardConfig config = {}) {
        config.loaderProtocol = false;
        board = harness::StartBoard(config);
        args = {"-P", board->SlavePath(), "-C"};
        harness::ProcessOptions options;
        options.args = args;
        options.inputKind = input;
        options.input = firstInput;
        options.closeInput = closeInput;
        child = std::make_unique<harness::ChildProcess>(options);
        ASSERT_TRUE(child->WaitForStdout(kBanner, kGuardMs)) << child->Stdout() << child->Stderr();
    }

    // Types keys and waits until the board has received expected (from the
    // bytes received so far on).
    void TypeAndExpect(const std::string& keys, const std::string& expected) {
        const size_t from = board->Received().size();
        child->WriteKeys(keys);
        ASSERT_TRUE(board->WaitForReceived(expected, kGuardMs, from)) << board->Received();
    }

    // Types a marker key and waits for it: everything typed before it has
    // been handled by then.
    std::string ReceivedUpToMarker() {
        child->WriteKeys("#");
        EXPECT_TRUE(board->WaitForReceived("#", kGuardMs)) << board->Received();
        return board->Received();
    }

    harness::ProcessResult Interrupt() {
        child->WriteKeys("\x03");
        return child->Wait(kGuardMs);
    }

    std::unique_ptr<sim::Board> board;
    std::unique_ptr<harness::ChildProcess> child;
    std::vector<std::string> args;
};

using ConsoleKeysReachTheBoard = ConsoleSession;

TEST_F(ConsoleKeysReachTheBoard, LetterAsOneByte) {
    Start();
    child->WriteKeys("a");
    EXPECT_EQ(ReceivedUpToMarker(), "a#");
}

TEST_F(ConsoleKeysReachTheBoard, EnterAsCarriageReturnOnly) {
    Start();
    child->WriteKeys("\r");
    EXPECT_EQ(ReceivedUpToMarker(), "\r#");
}

TEST_F(ConsoleKeysReachTheBoard, BackspaceAsEight) {
    Start();
    child->WriteKeys("\x7f");
    EXPECT_EQ(ReceivedUpToMarker(), "\b#");
}

TEST_F(ConsoleKeysReachTheBoard, EscapeAloneAsTwentySeven) {
    Start();
    TypeAndExpect("\x1b", "\x1b");
    EXPECT_EQ(ReceivedUpToMarker(), "\x1b#");
}

TEST_F(ConsoleKeysReachTheBoard, CursorAndFunctionKeysAsNothing) {
    Start();
    child->WriteKeys("\x1b[A");
    child->WriteKeys("\x1bOP");
    child->WriteKeys("\x1b[15~");
    child->WriteKeys("\x1b[1;5C");
    EXPECT_EQ(ReceivedUpToMarker(), "#");
    EXPECT_FALSE(child->Exited());
}

TEST_F(ConsoleKeysReachTheBoard, KeysTypedQuicklyInOrder) {
    Start();
    child->WriteKeys("ls -l\rx\x1b[Dyz");
    EXPECT_EQ(ReceivedUpToMarker(), "ls -l\rxyz#");
}

TEST_F(ConsoleKeysReachTheBoard, ControlKeysTheTerminalWouldTake) {
    Start();
    // Ctrl-S, Ctrl-Q, Ctrl-V, Ctrl-O, Ctrl-Z (suspend), Ctrl-\ (quit), Ctrl-Y,
    // Ctrl-R, Ctrl-W, Ctrl-U, Ctrl-D, LF.
    const std::string keys = "\x13\x11\x16\x0f\x1a\x1c\x19\x12\x17\x15\x04\n";
    child->WriteKeys(keys);
    EXPECT_EQ(ReceivedUpToMarker(), keys + "#");
    EXPECT_FALSE(child->Exited());
}

TEST_F(ConsoleKeysReachTheBoard, KeyboardIsTakenKeyByKeyWhileTheConsoleRuns) {
    Start();
    const termios settings = child->KeyboardSettings();
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | IEXTEN), 0u);
    EXPECT_NE(settings.c_lflag & ISIG, 0u);
    EXPECT_EQ(settings.c_iflag & (IXON | ICRNL | INLCR | IGNCR), 0u);
    EXPECT_EQ(settings.c_oflag, FreshKeyboardSettings().c_oflag);
}

using ConsoleShowsBoardOutput = ConsoleSession;

TEST_F(ConsoleShowsBoardOutput, UnchangedWithControlBytes) {
    Start();
    std::string bytes;
    for (int value = 1; value < 256; ++value) {
        bytes += static_cast<char>(value);
    }
    bytes += std::string("\0line\r\nnext\n\rlast", 17);
    board->Send(bytes);
    ASSERT_TRUE(child->WaitForStdout(kBanner + bytes, kGuardMs));
    EXPECT_EQ(child->Stdout(), EchoLine(args) + kBanner + bytes);
}

TEST_F(ConsoleShowsBoardOutput, KeysReachABoardThatStreamsWithoutPause) {
    sim::BoardConfig config;
    config.baudRate = 115200;  // paced, as a real line: reads seldom end empty
    Start(harness::InputKind::Terminal, "", true, config);
    board->Send(std::string(60000, 'x'));  // about 5 s on the line
    ASSERT_TRUE(child->WaitForStdout("xxxx", kGuardMs)) << child->Stderr();

    // Counted in bytes of the stream, not in time: the key must go out within
    // a few reads of 512 bytes, not wait for a pause in the stream.
    const size_t sentBefore = board->Sent().size();
    TypeAndExpect("k", "k");
    const size_t sentMeanwhile = board->Sent().size() - sentBefore;
    EXPECT_FALSE(board->WaitForSendIdle(0)) << "the key arrived only after the stream";
    EXPECT_LT(sentMeanwhile, 8u * 512u);
}

TEST_F(ConsoleShowsBoardOutput, WhileKeysAreTyped) {
    Start();
    board->Send("first\r\n");
    ASSERT_TRUE(child->WaitForStdout("first\r\n", kGuardMs));
    TypeAndExpect("k", "k");
    board->Send("second\r\n");
    ASSERT_TRUE(child->WaitForStdout("second\r\n", kGuardMs));
    EXPECT_EQ(child->Stdout(), EchoLine(args) + kBanner + "first\r\nsecond\r\n");
}

using ConsoleEndsWithTheTerminalGivenBack = ConsoleSession;

TEST_F(ConsoleEndsWithTheTerminalGivenBack, OnCtrlC) {
    Start();
    TypeAndExpect("a", "a");
    const harness::ProcessResult result = Interrupt();
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.termSignal, SIGINT) << harness::Describe(result);
    ExpectSameSettings(child->KeyboardSettings(), FreshKeyboardSettings());
    EXPECT_EQ(board->Received(), "a");
}

TEST_F(ConsoleEndsWithTheTerminalGivenBack, OnSigterm) {
    Start();
    child->Signal(SIGTERM);
    const harness::ProcessResult result = child->Wait(kGuardMs);
    EXPECT_EQ(result.termSignal, SIGTERM) << harness::Describe(result);
    ExpectSameSettings(child->KeyboardSettings(), FreshKeyboardSettings());
}

TEST_F(ConsoleEndsWithTheTerminalGivenBack, OnSighup) {
    Start();
    child->Signal(SIGHUP);
    const harness::ProcessResult result = child->Wait(kGuardMs);
    EXPECT_EQ(result.termSignal, SIGHUP) << harness::Describe(result);
    ExpectSameSettings(child->KeyboardSettings(), FreshKeyboardSettings());
}

TEST_F(ConsoleEndsWithTheTerminalGivenBack, WhenThePortVanishes) {
    Start();
    TypeAndExpect("a", "a");
    board->HangUp();
    const harness::ProcessResult result = child->Wait(kGuardMs);
    EXPECT_EQ(result.exitStatus, 1) << harness::Describe(result);
    EXPECT_EQ(result.err, "Error occurred: COMPort: read failed.\n");
    EXPECT_EQ(result.out, EchoLine(args) + kBanner);
    ExpectSameSettings(child->KeyboardSettings(), FreshKeyboardSettings());
}

using ConsoleWithoutKeyboardTerminal = ConsoleSession;

TEST_F(ConsoleWithoutKeyboardTerminal, NullInputSendsNothingAndOutputGoesOn) {
    Start(harness::InputKind::Null);
    board->Send("still here\r\n");
    ASSERT_TRUE(child->WaitForStdout("still here\r\n", kGuardMs));
    EXPECT_FALSE(child->Exited());
    child->Signal(SIGTERM);
    const harness::ProcessResult result = child->Wait(kGuardMs);
    EXPECT_EQ(result.termSignal, SIGTERM) << harness::Describe(result);
    EXPECT_EQ(result.out, EchoLine(args) + kBanner + "still here\r\n");
    EXPECT_EQ(board->Received(), "");
}

TEST_F(ConsoleWithoutKeyboardTerminal, PipedBytesAreSentUnchangedThenOutputGoesOn) {
    const std::string input = std::string("R\r\nline\n\x7f\x1b[A\0end", 16);
    Start(harness::InputKind::Pipe, input, true);
    ASSERT_TRUE(board->WaitForBytes(static_cast<int64_t>(input.size()), kGuardMs));
    board->Send("answer\r\n");
    ASSERT_TRUE(child->WaitForStdout("answer\r\n", kGuardMs));
    EXPECT_FALSE(child->Exited());
    EXPECT_EQ(board->Received(), input);
}

TEST_F(ConsoleWithoutKeyboardTerminal, PipedKeysArriveAsWritten) {
    Start(harness::InputKind::Pipe, "", false);
    child->WriteKeys("ab");
    ASSERT_TRUE(board->WaitForReceived("ab", kGuardMs));
    child->WriteKeys("c\r");
    ASSERT_TRUE(board->WaitForReceived("abc\r", kGuardMs));
    child->CloseInput();
    board->Send("after\r\n");
    ASSERT_TRUE(child->WaitForStdout("after\r\n", kGuardMs));
    EXPECT_EQ(board->Received(), "abc\r");
}

// The "?" handshake before the terminal starts.
class ConsoleHandshake : public ::testing::Test {
  protected:
    void Start(const sim::BoardConfig& config, std::vector<std::string> extraArgs) {
        board = harness::StartBoard(config);
        args = {"-P", board->SlavePath(), "-C", "-fp"};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        harness::ProcessOptions options;
        options.args = args;
        options.inputKind = harness::InputKind::Terminal;
        child = std::make_unique<harness::ChildProcess>(options);
    }

    std::unique_ptr<sim::Board> board;
    std::unique_ptr<harness::ChildProcess> child;
    std::vector<std::string> args;
};

TEST_F(ConsoleHandshake, SilentBoardIsAskedAgainAndTheTerminalDoesNotStart) {
    sim::BoardConfig config;
    config.silentPolls = 1000000;
    const auto started = std::chrono::steady_clock::now();
    Start(config, {});
    ASSERT_TRUE(board->WaitForReceived("?\r\n?\r\n?\r\n?\r\n", kGuardMs));
    // Each "?" follows 50 ms of silence after the one before, so the fourth
    // cannot arrive before three of those have passed. (Counted from the
    // start, not between arrivals: a busy board may read several at once.)
    const auto fourth = board->ReceivedAt(9) - started;
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(fourth).count(), 3 * 45);
    EXPECT_EQ(board->Received().find_first_not_of("?\r\n"), std::string::npos);
    EXPECT_EQ(child->Stdout().find("Entering"), std::string::npos);
    child->Signal(SIGTERM);
    EXPECT_EQ(child->Wait(kGuardMs).termSignal, SIGTERM);
}

TEST_F(ConsoleHandshake, CtrlCWhileWaitingForTheBoardEndsTheProgram) {
    sim::BoardConfig config;
    config.silentPolls = 1000000;
    Start(config, {});
    ASSERT_TRUE(board->WaitForReceived("?\r\n?\r\n", kGuardMs));
    child->WriteKeys("\x03");
    const harness::ProcessResult result = child->Wait(kGuardMs);
    EXPECT_EQ(result.termSignal, SIGINT) << harness::Describe(result);
    ExpectSameSettings(child->KeyboardSettings(), FreshKeyboardSettings());
}

TEST_F(ConsoleHandshake, AnsweringBoardIsGreetedThenTheTerminalStarts) {
    sim::BoardConfig config;
    config.silentPolls = 3;
    config.greeting = {"-Ready for commands", "no sign, ignored", "+second acknowledgment"};
    Start(config, {});
    ASSERT_TRUE(child->WaitForStdout(kBanner, kGuardMs)) << child->Stdout() << child->Stderr();
    EXPECT_EQ(child->Stdout(), EchoLine(args) + "Established communication: " + config.identity +
                                   "\nReady for commands\n" + kBanner);
    EXPECT_EQ(board->Received(), "?\r\n?\r\n?\r\n?\r\n");
    // The terminal runs: a key reaches the board.
    child->WriteKeys("x");
    EXPECT_TRUE(board->WaitForReceived("?\r\nx", kGuardMs, 9));
}

TEST_F(ConsoleHandshake, WithDebugEchoesEveryCommandAndLine) {
    sim::BoardConfig config;
    config.silentPolls = 1;
    config.greeting = {"-Ready"};
    Start(config, {"-D"});
    ASSERT_TRUE(child->WaitForStdout(kBanner, kGuardMs)) << child->Stdout() << child->Stderr();
    const std::string sent = "Sent: ?\r\n\n";
    EXPECT_EQ(child->Stdout(), EchoLine(args) + sent + sent + "Received: +" + config.identity +
                                   "\nEstablished communication: " + config.identity +
                                   "\nReceived: -Ready\nReady\n" + kBanner);
}

}  // namespace
