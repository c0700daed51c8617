// The child-process runner that integration tests rely on.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include "tests/support/Harness.h"

namespace {

using harness::ChildProcess;
using harness::InputKind;
using harness::ProcessOptions;
using harness::ProcessResult;

constexpr int kGuardMs = 10000;

ProcessOptions Shell(const std::string& script, InputKind input = InputKind::Null) {
    ProcessOptions options;
    options.binary = "/bin/sh";
    options.args = {"-c", script};
    options.inputKind = input;
    return options;
}

}  // namespace

TEST(ChildRunner, CapturesOutputErrorAndExitStatusSeparately) {
    ProcessResult result =
        harness::Run(Shell("printf 'out\\n'; printf 'err' >&2; printf 'more'; exit 3"), kGuardMs);
    EXPECT_EQ(result.out, "out\nmore");
    EXPECT_EQ(result.err, "err");
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.termSignal, 0);
    EXPECT_FALSE(result.timedOut);
}

TEST(ChildRunner, CapturesLargeOutputCompletely) {
    ProcessResult result = harness::Run(
        Shell("i=0; while [ $i -lt 2000 ]; do echo 0123456789abcdef; i=$((i+1)); done"), kGuardMs);
    EXPECT_EQ(result.out.size(), 2000u * 17);
    EXPECT_EQ(result.exitStatus, 0);
}

TEST(ChildRunner, ReportsTheSignalThatEndedTheChild) {
    ProcessResult result = harness::Run(Shell("kill -TERM $$"), kGuardMs);
    EXPECT_EQ(result.termSignal, SIGTERM);
    EXPECT_EQ(result.exitStatus, -1);
}

TEST(ChildRunner, KillsAChildThatOutlivesItsTimeOut) {
    ProcessResult result = harness::Run(Shell("exec sleep 60"), 200);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.termSignal, SIGKILL);
}

TEST(ChildRunner, ReportsAProgramThatCannotBeStarted) {
    ProcessOptions options;
    options.binary = "/nonexistent/program";
    ProcessResult result = harness::Run(options, kGuardMs);
    EXPECT_EQ(result.exitStatus, 127);
}

TEST(ChildRunner, SignalsARunningChildAndWaitsForItsOutput) {
    ChildProcess child(Shell("trap 'echo caught; exit 5' INT; echo ready; while :; do :; done"));
    ASSERT_TRUE(child.WaitForStdout("ready\n", kGuardMs));
    EXPECT_FALSE(child.WaitForStderr("never", 50));
    child.Signal(SIGINT);
    ProcessResult result = child.Wait(kGuardMs);
    EXPECT_EQ(result.out, "ready\ncaught\n");
    EXPECT_EQ(result.exitStatus, 5);
    EXPECT_TRUE(child.Exited());
}

// A test program started under nohup (SIGHUP ignored), or a thread that
// blocks SIGHUP, must not pass that on: the program would never end on a
// hang-up.
TEST(ChildRunner, ChildStartsWithSignalsAtTheirDefaults) {
    sigset_t hangUp;
    sigset_t keptMask;
    sigemptyset(&hangUp);
    sigaddset(&hangUp, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &hangUp, &keptMask);
    void (*keptAction)(int) = signal(SIGHUP, SIG_IGN);
    ChildProcess child(Shell("echo ready; while :; do :; done"));
    signal(SIGHUP, keptAction);
    pthread_sigmask(SIG_SETMASK, &keptMask, nullptr);
    ASSERT_TRUE(child.WaitForStdout("ready\n", kGuardMs));
    child.Signal(SIGHUP);
    EXPECT_EQ(child.Wait(kGuardMs).termSignal, SIGHUP);
}

TEST(ChildInput, ComesFromNullByDefault) {
    ProcessResult result = harness::Run(Shell("cat; echo end"), kGuardMs);
    EXPECT_EQ(result.out, "end\n");
}

TEST(ChildInput, ComesFromAPipeWithGivenBytes) {
    ProcessOptions options = Shell("cat", InputKind::Pipe);
    options.input = std::string("ab\0\x03\r\n", 6);
    ProcessResult result = harness::Run(options, kGuardMs);
    EXPECT_EQ(result.out, options.input);
}

TEST(ChildInput, PipeStaysOpenForMoreKeysUntilClosed) {
    ProcessOptions options = Shell("cat", InputKind::Pipe);
    options.input = "first ";
    options.closeInput = false;
    ChildProcess child(options);
    ASSERT_TRUE(child.WaitForStdout("first ", kGuardMs));
    child.WriteKeys("second");
    ASSERT_TRUE(child.WaitForStdout("second", kGuardMs));
    child.CloseInput();
    EXPECT_EQ(child.Wait(kGuardMs).exitStatus, 0);
}

TEST(KeyboardTerminal, IsTheChildsControllingTerminalAndStandardInput) {
    ChildProcess child(Shell("tty; read line; echo \"got $line\"", InputKind::Terminal));
    ASSERT_TRUE(child.WaitForStdout("\n", kGuardMs));
    child.WriteKeys("hello\r");
    ProcessResult result = child.Wait(kGuardMs);
    EXPECT_EQ(result.out.rfind("/dev/", 0), 0u) << result.out;
    EXPECT_NE(result.out.find("got hello\n"), std::string::npos) << result.out;
    EXPECT_NE(child.TerminalOutput().find("hello"), std::string::npos) << "echoed by the tty";
}

TEST(KeyboardTerminal, CtrlCInterruptsTheChild) {
    ChildProcess child(Shell("echo ready; exec cat", InputKind::Terminal));
    ASSERT_TRUE(child.WaitForStdout("ready\n", kGuardMs));
    child.WriteKeys("\x03");
    ProcessResult result = child.Wait(kGuardMs);
    EXPECT_EQ(result.termSignal, SIGINT) << harness::Describe(result);
}

TEST(KeyboardTerminal, SettingsCanBeReadBeforeAndAfterTheChildChangesThem) {
    ChildProcess child(Shell("stty -echo -icanon; echo changed; exec cat", InputKind::Terminal));
    ASSERT_TRUE(child.WaitForStdout("changed\n", kGuardMs));
    termios settings = child.KeyboardSettings();
    EXPECT_EQ(settings.c_lflag & (ECHO | ICANON), 0u);
    child.Signal(SIGKILL);
    child.Wait(kGuardMs);
    EXPECT_EQ(child.KeyboardSettings().c_lflag & ECHO, 0u) << "left as the child set it";

    ChildProcess untouched(Shell("echo hi", InputKind::Terminal));
    untouched.Wait(kGuardMs);
    EXPECT_NE(untouched.KeyboardSettings().c_lflag & ECHO, 0u);
}

TEST(KeyboardTerminal, ClosingItHangsUpTheChildsTerminal) {
    ChildProcess child(Shell("echo ready; cat; echo eof", InputKind::Terminal));
    ASSERT_TRUE(child.WaitForStdout("ready\n", kGuardMs));
    child.CloseInput();
    ProcessResult result = child.Wait(kGuardMs);
    EXPECT_FALSE(result.timedOut);
}

TEST(TempFiles, AreWrittenExactlyAndNeverShared) {
    std::string content("a\r\nb\x1a\0", 6);
    std::string first = harness::WriteTempFile(content);
    std::string second = harness::WriteTempFile("other");
    EXPECT_NE(first, second);
    ProcessResult result = harness::Run(Shell("cat '" + first + "'"), kGuardMs);
    EXPECT_EQ(result.out, content);
}
