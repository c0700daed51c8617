// The POSIX port layer under COMPort, on real pseudo-terminals.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "PseudoTerminal.h"
#include "errors/Messages.h"
#include "serial/COMPort.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(nothing raised)";
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

TEST_F(LineIsBinaryClean, CommandTextGoesOutExactlyAsWritten) {
    COMPort port(board.SlavePath());
    port.Configure(115200, 50);
    EXPECT_EQ(port.Write("R\r\n", 3), 3u);
    EXPECT_EQ(board.Receive(3), (std::vector<uint8_t>{'R', '\r', '\n'}));
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

TEST_F(ReadTimeouts, IntervalEndsTheReadOnAGap) {
    COMPort port(board.SlavePath());
    port.Configure(115200, 0);
    port.SetReadTimeouts(50, 0, 0);
    ASSERT_TRUE(board.Send("xy"));
    char buffer[16] = {};
    uint32_t received = 0;
    const Clock::time_point start = Clock::now();
    while (received < 2 && MillisecondsSince(start) < 5000) {
        received += port.Read(buffer + received, sizeof buffer - received);
    }
    EXPECT_EQ(std::string(buffer, received), "xy");
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

}  // namespace
