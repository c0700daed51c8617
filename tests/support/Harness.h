#pragma once
// Test harness for integration tests: a simulated board on a pseudo-terminal
// (sim::Board, see sim/Board.h) and the real vantoir binary run as a child
// process against it.
//
// Typical use:
//   sim::BoardConfig config;
//   config.silentPolls = 3;
//   auto board = harness::StartBoard(config);
//   harness::ProcessResult result = harness::RunVantoir(
//       {"-P", board->SlavePath(), "-F", harness::WriteTempFile(text)}, 20000);
//   EXPECT_EQ(result.exitStatus, 0);
//   EXPECT_EQ(board->Received(), "?\r\nR\r\n...");
//
// For console mode, start the program with InputKind::Terminal: its standard
// input is then the slave of a second pseudo-terminal that is also its
// controlling terminal; the test types on it with WriteKeys, sends Ctrl-C
// with WriteKeys("\x03"), and reads its settings with KeyboardSettings.
// Standard output and standard error are always captured through pipes.
//
// To play the host by hand instead (write commands, read the board's answer
// with a deadline), see ScriptedHost.h.
//
// The same tests run the Windows build under Wine when VANTOIR_EXE names the
// .exe file (see Launcher.cpp): the program is started through
// VANTOIR_LAUNCHER (default "wine"), a board's port is named by PortName (a
// COM port of the Wine prefix that leads to the board's pseudo-terminal),
// and the CR LF that the Windows C runtime writes for each LF of the
// program's output is turned back into LF. Tests of what Wine cannot show
// skip themselves through SkipUnderWine.
//
// Every wait takes a time-out in ms. It is a guard against hanging: a child
// still running at the time-out of Wait/Run is killed (SIGKILL) and the
// result says timedOut. Nothing here sleeps to wait for something.

#include <sys/types.h>
#include <termios.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/Board.h"
#include "sim/BoardConfig.h"

namespace harness {

// Path of the vantoir binary under test (built with the tests, or the .exe
// file that VANTOIR_EXE names).
std::string VantoirBinary();

// The program's path as it sees it in its own command line: under Wine the
// DOS path of the .exe file (drive Z: is the root of the file system).
std::string ProgramPathAsShown();

// The program under test is the Windows build, run under Wine.
bool RunsWindowsBuild();

// The name under which the program reaches the board's port: its device path
// for the native build; a COM port of the Wine prefix (COM10 or above, so
// the device-namespace naming is used) that leads there for the Windows build.
std::string PortName(const sim::Board& board);

// The name under which the program reaches the board's port by a path that
// stays the same when the port goes away and comes back (Board::Vanish,
// Board::Reappear): a symbolic link the board keeps pointing at its port, or
// for the Windows build a COM port of the Wine prefix that leads to it.
std::string LinkedPortName(sim::Board& board);

// A COM port of the Wine prefix with the name given (Windows build only).
std::string NamedComPort(const sim::Board& board, const std::string& comName);

// The command line that starts binary with args: the binary itself, or the
// launcher in front of it.
std::vector<std::string> LaunchCommand(const std::string& binary,
                                       const std::vector<std::string>& args);

// The program's output as a native build writes it.
std::string NativeLineEnds(const std::string& text);

struct ProcessResult;
// An end by Ctrl-C as a native build reports it (SIGINT): a Windows program
// ends with the exit code 0xC000013A instead.
void ReportInterruptAsNative(ProcessResult& result);

// A board on a fresh pseudo-terminal, already running on its own thread.
std::unique_ptr<sim::Board> StartBoard(const sim::BoardConfig& config = sim::BoardConfig());

// Writes content to a new file in a fresh temporary directory (removed at the
// end of the test program) and returns its path. name is the file's name.
std::string WriteTempFile(const std::string& content, const std::string& name = "data.hex");

// A sample Intel-HEX text of recordCount record lines (the last one the
// end-of-file record), lines ending in LF.
std::string SampleHex(int recordCount);

// Where the child's standard input comes from.
enum class InputKind {
    Null,      // /dev/null
    Pipe,      // a pipe: ProcessOptions::input is written, then (with
               // closeInput) the pipe is closed; WriteKeys writes more
    Terminal,  // the slave of a second pseudo-terminal, made the child's
               // controlling terminal (new session); WriteKeys types on it
};

struct ProcessOptions {
    std::vector<std::string> args;  // without the program name
    InputKind inputKind = InputKind::Null;
    std::string input;       // first bytes written to the input
    bool closeInput = true;  // Pipe: close after input
    std::string binary;      // empty: VantoirBinary()
    std::string workDir;     // empty: the current directory
};

struct ProcessResult {
    std::string out;        // standard output, complete
    std::string err;        // standard error, complete
    int exitStatus = -1;    // exit status, -1 when ended by a signal
    int termSignal = 0;     // the signal that ended it, 0 when it exited
    bool timedOut = false;  // killed by the guard time-out
};

// A running child process with captured output (read by a background thread).
class ChildProcess {
  public:
    // Starts the program; throws std::runtime_error if it cannot.
    explicit ChildProcess(const ProcessOptions& options);
    // Kills the child if it still runs and reaps it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid; }

    // Writes bytes to the child's input (Pipe or Terminal). With Terminal,
    // the keyboard terminal's line discipline applies as the child set it:
    // "\x03" is Ctrl-C (SIGINT while ISIG is on).
    void WriteKeys(const std::string& bytes);
    // Closes the input pipe (Pipe) or the keyboard terminal's master
    // (Terminal: the child's terminal hangs up).
    void CloseInput();

    // The keyboard terminal's current settings (Terminal only), read on our
    // own descriptor of its slave, valid before and after the child ends.
    termios KeyboardSettings() const;

    // Waits until the keyboard terminal takes input key by key (Terminal
    // only). Wine's console switches the terminal a moment after the program
    // has set its console mode; a native build has done it before its banner.
    bool WaitForKeyAtATime(int timeoutMs) const;

    // Output captured so far.
    std::string Stdout() const;
    std::string Stderr() const;
    // What the keyboard terminal showed so far (its echo of typed keys, and
    // anything the child wrote to the terminal itself); Terminal only.
    std::string TerminalOutput() const;
    // Waits until standard output / error contains text.
    bool WaitForStdout(const std::string& text, int timeoutMs) const;
    bool WaitForStderr(const std::string& text, int timeoutMs) const;

    // Sends a signal to the child (to its process, not its group).
    void Signal(int signalNumber);
    // Waits for the child to end and for its output to be complete; on
    // time-out kills it and says timedOut. Repeated calls give the same
    // result.
    ProcessResult Wait(int timeoutMs);
    // True once the child has ended (does not block).
    bool Exited();

    // Output and exit status, shared with the thread that reads the output.
    struct Capture;

  private:
    pid_t pid = -1;
    int inputFd = -1;
    int keyboardMaster = -1;
    int keyboardSlave = -1;
    std::shared_ptr<Capture> capture;
    std::thread reader;
    bool killedByGuard = false;
};

// Runs the program to its end (killed after timeoutMs) and returns its result.
ProcessResult Run(const ProcessOptions& options, int timeoutMs);
// Runs vantoir with args, input from /dev/null.
ProcessResult RunVantoir(const std::vector<std::string>& args, int timeoutMs);
// The text of a fenced block of a guide, as printed: the lines after the
// fence line that begins opening (opening is the fence line and the text
// that follows it, to find the right block) up to the closing fence. Empty
// when the guide has no such block.
std::string FencedBlock(const std::string& guidePath, const std::string& opening);

// The folder path is in.
std::string FolderOf(const std::string& path);

// Runs vantoir ARGS | head -c 0 (native build): the reader of its standard
// output is gone before the first line, or soon after. With sigpipeIgnored
// the program starts with SIGPIPE ignored, as a shell's trap '' PIPE leaves
// it. The exit status is the program's (141 for SIGPIPE, as a shell says it).
// afterFirstLine: the reader goes after the first line (head -n 1) instead.
ProcessResult RunIntoAClosedPipe(const std::vector<std::string>& args, bool sigpipeIgnored,
                                 int timeoutMs, bool afterFirstLine = false);

// Skips the current test, saying why, when the Windows build runs under Wine.
#define SKIP_UNDER_WINE(why)                         \
    do {                                             \
        if (::harness::RunsWindowsBuild()) {         \
            GTEST_SKIP() << "under Wine: " << (why); \
        }                                            \
    } while (false)

// The line that follows "Error occurred: COMPort: failed to open." for a
// device that does not exist: "DEVICE: No such file or directory". The
// Windows build gives the system's own words, whatever they are: there the
// line of err after the first is taken when it names the device.
std::string OpenFailureLine(const std::string& device, const std::string& err);

// Human-readable form of a result, for failure messages.
std::string Describe(const ProcessResult& result);

}  // namespace harness
