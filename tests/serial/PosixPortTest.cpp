// The POSIX port layer under COMPort, on real pseudo-terminals.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "MessageOf.h"
#include "PseudoTerminal.h"
#include "serial/COMPort.h"
#include "serial/SerialMessages.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class PosixPort : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(board.Ready()); }
    PseudoTerminal board;
};

// --- The line passes every byte unchanged ---------------------------------

class LineIsBinaryClean : public PosixPort {};

TEST_F(LineIsBinaryClean, AllByteValuesRoundTripUnchanged) {
    COMPort port(board.SlavePath());
    port.Configure(115200, 3000);
    std::vector<uint8_t> all(256);
    for (int value = 0; value < 256; ++value) {
        all[value] = static_cast<uint8_t>(value);
    }
    EXPECT_EQ(port.Write(all.data(), 256), 256u);
    EXPECT_EQ(board.Receive(256), all);

    ASSERT_TRUE(board.Send(all));
    std::vector<uint8_t> received(256);
    EXPECT_EQ(port.Read(received.data(), 256), 256u);
    EXPECT_EQ(received, all);
}

// --- Read time-outs --------------------------------------------------------

class ReadTimeouts : public PosixPort {};

TEST_F(ReadTimeouts, SilentLineOneByteReadEndsAfterTheTimeout) {
    COMPort port(board.SlavePath());
    port.Configure(115200, 50);
    uint8_t byte = 0;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(port.Read(&byte, 1), 0u);
    const long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 40);
    EXPECT_LE(elapsed, 1000);
}

TEST_F(ReadTimeouts, WaitingBytesComeBackWithoutWaitingForTheTimeout) {
    COMPort port(board.SlavePath());
    port.Configure(115200, 60000);
    ASSERT_TRUE(board.Send("+OK"));
    char reply[3] = {};
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(port.Read(reply, 3), 3u);
    EXPECT_LT(MillisecondsSince(start), 30000);
    EXPECT_EQ(std::string(reply, 3), "+OK");
}

TEST_F(ReadTimeouts, ShortTimeoutReturnsThePartThatArrived) {
    COMPort port(board.SlavePath());
    port.Configure(115200, 10);
    ASSERT_TRUE(board.Send("abc"));
    // The bytes travel through the terminal driver; wait until all are in.
    std::vector<uint8_t> received;
    uint8_t buffer[512];
    const Clock::time_point start = Clock::now();
    while (received.size() < 3 && MillisecondsSince(start) < 5000) {
        const uint32_t count = port.Read(buffer, sizeof buffer);
        EXPECT_LE(count, 3u);
        received.insert(received.end(), buffer, buffer + count);
    }
    EXPECT_EQ(received, (std::vector<uint8_t>{'a', 'b', 'c'}));
}

TEST_F(ReadTimeouts, AllOnesIntervalReturnsAtOnce) {
    COMPort port(board.SlavePath());
    port.Configure(115200, 60000);
    port.SetReadTimeouts(kReadIntervalReturnAtOnce, 0, 0);
    uint8_t buffer[128];
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(port.Read(buffer, sizeof buffer), 0u);
    EXPECT_LT(MillisecondsSince(start), 30000);
}

TEST_F(ReadTimeouts, AllOnesIntervalHandsOverWhatIsWaiting) {
    COMPort port(board.SlavePath());
    port.Configure(115200, 10);
    port.SetReadTimeouts(kReadIntervalReturnAtOnce, 0, 0);
    ASSERT_TRUE(board.Send("raw!"));
    std::string received;
    char buffer[128];
    const Clock::time_point start = Clock::now();
    while (received.size() < 4 && MillisecondsSince(start) < 5000) {
        received.append(buffer, port.Read(buffer, sizeof buffer));
    }
    EXPECT_EQ(received, "raw!");
}

TEST_F(ReadTimeouts, WholeCountReadWaitsUntilTheCountIsIn) {
    COMPort port(board.SlavePath());  // not configured: reads wait for their count
    char buffer[4] = {};
    auto reading = std::async(std::launch::async, [&] { return port.Read(buffer, 4); });
    ASSERT_TRUE(board.Send("ab"));
    EXPECT_EQ(reading.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    ASSERT_TRUE(board.Send("cd"));
    ASSERT_EQ(reading.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(reading.get(), 4u);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
}

// --- Exclusive use ---------------------------------------------------------

class ExclusiveUse : public PosixPort {};

TEST_F(ExclusiveUse, SecondOpenIsRefusedUntilTheFirstCloses) {
    {
        COMPort first(board.SlavePath());
        EXPECT_EQ(MessageOf([&] { COMPort second(board.SlavePath()); }), messages::kPortOpenFailed);
    }
    EXPECT_EQ(MessageOf([&] { COMPort again(board.SlavePath()); }), "(nothing raised)");
}

// --- Standard streams --------------------------------------------------------

// A program started with standard input, output or error closed would
// otherwise get the port in their place: its messages would go to the board,
// and console mode would read the board's bytes as keys.
TEST_F(PosixPort, PortNeverTakesThePlaceOfAClosedStandardStream) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(STDIN_FILENO);
        close(STDOUT_FILENO);
        close(STDERR_FILENO);
        bool streamsStillClosed = false;
        try {
            COMPort port(board.SlavePath());
            port.Configure(115200, 50);
            streamsStillClosed = fcntl(STDIN_FILENO, F_GETFD) < 0 &&
                                 fcntl(STDOUT_FILENO, F_GETFD) < 0 &&
                                 fcntl(STDERR_FILENO, F_GETFD) < 0 && port.Write("ok", 2) == 2;
        } catch (...) {
        }
        _exit(streamsStillClosed ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(board.Receive(2), (std::vector<uint8_t>{'o', 'k'}));
}

// --- Paths that are no port ------------------------------------------------

TEST(PortOpening, MissingPathIsRefused) {
    EXPECT_EQ(MessageOf([] { COMPort port("/dev/vantoir-no-such-port"); }),
              messages::kPortOpenFailed);
}

TEST(PortOpening, RegularFileIsNoPort) {
    char path[] = "/tmp/vantoir-port-test-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(MessageOf([&] { COMPort port(path); }), messages::kPortGetStateFailed);
    std::remove(path);
}

// --- Line settings ---------------------------------------------------------

class LineSettings : public PosixPort {};

TEST_F(LineSettings, ConfigureSetsTheLineTheModesUse) {
    COMPort port(board.SlavePath());
    port.Configure(115200, 50);
    const termios line = board.LineSettings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(line.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
}

TEST_F(LineSettings, ZeroAndNegativeRatesAreRefused) {
    COMPort port(board.SlavePath());
    port.Configure(9600, 50);
    EXPECT_EQ(MessageOf([&] { port.SetBaudRate(0); }), messages::kPortSetStateFailed);
    EXPECT_EQ(MessageOf([&] { port.SetBaudRate(4294957696u); }), messages::kPortSetStateFailed);
    EXPECT_EQ(port.GetBaudRate(), 4294957696u);
    const termios line = board.LineSettings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
}

TEST_F(ExclusiveUse, OpenerInAnotherProcessIsRefused) {
    COMPort first(board.SlavePath());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const PortHandle handle = SystemPortPlatform().Open(board.SlavePath());
        _exit(handle == kInvalidPortHandle ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// --- Line settings, continued ---------------------------------------------

TEST_F(LineSettings, LineIsRawFromTheMomentItOpens) {
    COMPort port(board.SlavePath());
    const termios line = board.LineSettings();
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(line.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);
    EXPECT_NE(line.c_cflag & CREAD, 0u);
    EXPECT_NE(line.c_cflag & CLOCAL, 0u);
    EXPECT_NE(line.c_cflag & CRTSCTS, 0u);  // handshake until a phase configures the line
}

TEST_F(LineSettings, FramingSettersReachTheLine) {
    COMPort port(board.SlavePath());
    port.Configure(19200, 50);
    port.SetStopBits(kStopBitsTwo);
    termios line = board.LineSettings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B19200));
    EXPECT_NE(line.c_cflag & CSTOPB, 0u);
    port.SetStopBits(kStopBitsOne);
    EXPECT_EQ(board.LineSettings().c_cflag & CSTOPB, 0u);
}

// The pseudo-terminal keeps only 8 data bits without parity: the port reports
// framing that did not reach the line as refused, never pretends, and leaves
// the line as it was.
TEST_F(LineSettings, FramingTheDriverDropsIsRefused) {
    COMPort port(board.SlavePath());
    port.Configure(9600, 50);
    EXPECT_EQ(MessageOf([&] { port.SetParity(kParityOdd); }), messages::kPortSetStateFailed);
    EXPECT_EQ(port.GetParity(), kParityOdd);
    EXPECT_EQ(MessageOf([&] { port.SetDataBits(7); }), messages::kPortSetStateFailed);
    EXPECT_EQ(board.LineSettings().c_cflag & (CSIZE | PARENB), static_cast<tcflag_t>(CS8));
    port.LoadState();  // the refused values stay in the copy until it is refilled
    EXPECT_EQ(port.GetDataBits(), 8);
    EXPECT_EQ(port.GetParity(), kParityNone);
    port.Configure(9600, 50);
}

TEST_F(LineSettings, ImpossibleFramingIsRefusedAndTheLineKept) {
    COMPort port(board.SlavePath());
    port.Configure(9600, 50);
    EXPECT_EQ(MessageOf([&] { port.SetStopBits(kStopBitsOneAndHalf); }),
              messages::kPortSetStateFailed);
    EXPECT_EQ(port.GetStopBits(), kStopBitsOneAndHalf);
    EXPECT_EQ(board.LineSettings().c_cflag & CSTOPB, 0u);
    port.SetStopBits(kStopBitsOne);
    EXPECT_EQ(MessageOf([&] { port.SetDataBits(9); }), messages::kPortSetStateFailed);
    EXPECT_EQ(MessageOf([&] { port.SetDataBits(4); }), messages::kPortSetStateFailed);
    EXPECT_EQ(board.LineSettings().c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
}

TEST_F(LineSettings, RateOutsideTheStandardOnesIsSetAndReadBack) {
    COMPort port(board.SlavePath());
    port.Configure(250000, 50);
    port.SetBaudRate(9600).SetBaudRate(250000);
    port.LoadState();
    EXPECT_EQ(port.GetBaudRate(), 250000u);
    port.SetBaudRate(115200);  // both directions back to a standard rate
    const termios line = board.LineSettings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B115200));
}

TEST_F(LineSettings, FlowControlSwitchesReachTheLine) {
    COMPort port(board.SlavePath());
    port.Configure(115200, 50);
    port.SetHardwareFlowControl(true);
    EXPECT_NE(board.LineSettings().c_cflag & CRTSCTS, 0u);
    port.SetHardwareFlowControl(false).SetSoftwareFlowControl(true);
    termios line = board.LineSettings();
    EXPECT_EQ(line.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    port.Configure(115200, 50);  // keeps XON/XOFF as it was
    EXPECT_TRUE(port.GetSoftwareFlowControl());
    line = board.LineSettings();
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
}

TEST_F(LineSettings, LineDefinitionTextSetsTheLine) {
    COMPort port(board.SlavePath());
    port.SetLineCharacteristics("baud=9600 parity=n data=8 stop=2 xon=on");
    const termios line = board.LineSettings();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
    EXPECT_NE(line.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(MessageOf([&] { port.SetLineCharacteristics("baud=4800 parity=q"); }),
              messages::kPortLineCharacteristicsFailed);
    EXPECT_EQ(port.GetBaudRate(), 9600u);
}

// --- Line signals on a device without modem lines --------------------------

TEST_F(PosixPort, BreakAndCapabilitiesOnAPseudoTerminal) {
    COMPort port(board.SlavePath());
    EXPECT_EQ(MessageOf([&] { port.SetBreak().ClearBreak(); }), "(nothing raised)");
    EXPECT_EQ(port.GetMaxBaud(), kMaxBaudProgrammable);
    EXPECT_EQ(MessageOf([&] { port.GetModemSignals(); }), messages::kPortModemSignalsFailed);
}

// --- Writes ----------------------------------------------------------------

TEST_F(PosixPort, LargeWriteIsHandedOverWhole) {
    COMPort port(board.SlavePath());
    port.Configure(115200, 50);
    std::vector<uint8_t> block(256 * 1024);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i * 7 + i / 256);
    }
    // Far more than the terminal buffers: the write must wait for room.
    auto receiving =
        std::async(std::launch::async, [&] { return board.Receive(block.size(), 30000); });
    EXPECT_EQ(port.Write(block.data(), static_cast<uint32_t>(block.size())), block.size());
    EXPECT_EQ(receiving.get(), block);
}

// --- Interrupted calls -----------------------------------------------------

class InterruptedCalls : public PosixPort {
  protected:
    static void Ignore(int) {}

    void SetUp() override {
        PosixPort::SetUp();
        struct sigaction action {};
        action.sa_handler = Ignore;  // no SA_RESTART: waits end with EINTR
        sigaction(SIGUSR1, &action, &previous);
    }
    void TearDown() override { sigaction(SIGUSR1, &previous, nullptr); }

    // Runs work on its own thread and interrupts it with signals until done.
    template <typename Work>
    auto UnderSignals(Work work) {
        std::atomic<bool> done{false};
        std::promise<pthread_t> started;
        auto result = std::async(std::launch::async, [&] {
            started.set_value(pthread_self());
            auto value = work();
            done = true;
            return value;
        });
        const pthread_t worker = started.get_future().get();
        while (!done) {
            pthread_kill(worker, SIGUSR1);
            std::this_thread::yield();
        }
        return result.get();
    }

    struct sigaction previous {};
};

TEST_F(InterruptedCalls, TimedReadStillEndsAtItsTimeout) {
    COMPort port(board.SlavePath());
    port.Configure(115200, 100);
    const Clock::time_point start = Clock::now();
    const uint32_t received = UnderSignals([&] {
        uint8_t byte = 0;
        return port.Read(&byte, 1);
    });
    EXPECT_EQ(received, 0u);
    EXPECT_GE(MillisecondsSince(start), 90);
}

TEST_F(InterruptedCalls, WholeCountReadStillGetsItsBytes) {
    COMPort port(board.SlavePath());
    ASSERT_TRUE(board.Send("wxyz"));
    const std::string got = UnderSignals([&] {
        char buffer[4] = {};
        port.Read(buffer, 4);
        return std::string(buffer, 4);
    });
    EXPECT_EQ(got, "wxyz");
}

// --- A device that has gone away ------------------------------------------

class DeviceGoneAway : public PosixPort {};

TEST_F(DeviceGoneAway, ClosedMasterFailsTheNextReadAndWrite) {
    COMPort port(board.SlavePath());
    port.Configure(115200, 50);
    board.CloseMaster();
    uint8_t byte = 0;
    EXPECT_EQ(MessageOf([&] { port.Read(&byte, 1); }), messages::kPortReadFailed);
    EXPECT_EQ(MessageOf([&] { port.Write("?\r\n", 3); }), messages::kPortWriteFailed);
}

TEST_F(DeviceGoneAway, ReadWaitingForItsCountFailsWhenTheBoardGoes) {
    COMPort port(board.SlavePath());  // not configured: the read waits for all 8
    auto reading = std::async(std::launch::async, [&] {
        char buffer[8];
        return MessageOf([&] { port.Read(buffer, sizeof buffer); });
    });
    ASSERT_TRUE(board.Send("abc"));
    board.CloseMaster();
    ASSERT_EQ(reading.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(reading.get(), messages::kPortReadFailed);
}

}  // namespace
