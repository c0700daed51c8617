// COMPort over a fake platform: which calls it makes, in which order, and how
// each refusal is reported.

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakePortPlatform.h"
#include "MessageOf.h"
#include "errors/Interrupted.h"
#include "errors/PortError.h"
#include "serial/COMPort.h"
#include "serial/Interrupt.h"
#include "serial/SerialMessages.h"

namespace {

using Calls = std::vector<std::string>;

// --- Construction ----------------------------------------------------------

TEST(PortPreparation, OpensThenZeroesReadTimeoutsThenHandsRtsToTheHandshake) {
    FakePortPlatform platform;
    COMPort port("COM1", platform);
    EXPECT_EQ(platform.openedName, "COM1");
    EXPECT_EQ(platform.calls,
              (Calls{"Open", "GetState", "GetTimeouts", "SetTimeouts", "SetState"}));
    EXPECT_EQ(platform.timeouts.readInterval, 0u);
    EXPECT_EQ(platform.timeouts.readTotalMultiplier, 0u);
    EXPECT_EQ(platform.timeouts.readTotalConstant, 0u);
    EXPECT_EQ(platform.timeouts.writeTotalMultiplier, 11u);
    EXPECT_EQ(platform.timeouts.writeTotalConstant, 22u);
    EXPECT_TRUE(platform.state.outxCtsFlow);
    EXPECT_FALSE(platform.state.outxDsrFlow);
    EXPECT_EQ(platform.state.rtsControl, kRtsControlHandshake);
    // The framing stays as the port had it until a phase configures the line.
    EXPECT_EQ(port.GetBaudRate(), 4800u);
    EXPECT_EQ(port.GetDataBits(), 7);
    EXPECT_EQ(port.GetParity(), kParityEven);
    EXPECT_EQ(port.GetStopBits(), kStopBitsTwo);
}

struct PreparationFailure {
    const char* refusedCall;
    const char* message;
};

class PortPreparationFailures : public ::testing::TestWithParam<PreparationFailure> {};

void PrintTo(const PreparationFailure& param, std::ostream* out) {
    *out << param.refusedCall;
}

TEST_P(PortPreparationFailures, RaiseTheirMessageAndGiveThePortBack) {
    FakePortPlatform platform;
    platform.refused.insert(GetParam().refusedCall);
    EXPECT_EQ(MessageOf([&] { COMPort port("COM1", platform); }), GetParam().message);
    const bool opened = std::string(GetParam().refusedCall) != "Open";
    EXPECT_EQ(platform.Count("Close"), opened ? 1u : 0u);
    EXPECT_EQ(platform.calls.back(), opened ? "Close" : "Open");
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, PortPreparationFailures,
    ::testing::Values(PreparationFailure{"Open", messages::kPortOpenFailed},
                      PreparationFailure{"GetState", messages::kPortGetStateFailed},
                      PreparationFailure{"GetTimeouts", messages::kPortGetTimeoutsFailed},
                      PreparationFailure{"SetTimeouts", messages::kPortSetTimeoutsFailed},
                      PreparationFailure{"SetState", messages::kPortSetStateFailed}));

// --- Configure -------------------------------------------------------------

// A prepared port over the fake, with the record of the preparation cleared.
class ConfigureSteps : public ::testing::Test {
  protected:
    FakePortPlatform platform;
    COMPort* owned = new COMPort("COM1", platform);
    COMPort& port = *owned;
    void SetUp() override {
        platform.calls.clear();
        platform.appliedStates.clear();
    }
    // The port's destructor may raise; here, not in a noexcept destructor.
    void TearDown() override {
        platform.refused.clear();
        delete owned;
    }
};

TEST_F(ConfigureSteps, ApplyEachSettingInTurnThenTheReadTimeout) {
    port.Configure(115200, 50);
    EXPECT_EQ(platform.calls, (Calls{"SetState", "SetState", "SetState", "SetState", "SetState",
                                     "GetTimeouts", "SetTimeouts"}));
    const std::vector<PortState>& steps = platform.appliedStates;
    ASSERT_EQ(steps.size(), 5u);
    EXPECT_EQ(steps[0].baudRate, 115200u);
    EXPECT_EQ(steps[0].parity, kParityEven);  // not yet changed
    EXPECT_EQ(steps[1].parity, kParityNone);
    EXPECT_EQ(steps[1].byteSize, 7);
    EXPECT_EQ(steps[2].byteSize, 8);
    EXPECT_EQ(steps[2].stopBits, kStopBitsTwo);
    EXPECT_EQ(steps[3].stopBits, kStopBitsOne);
    EXPECT_TRUE(steps[3].outxCtsFlow);
    EXPECT_FALSE(steps[4].outxCtsFlow);
    EXPECT_FALSE(steps[4].outxDsrFlow);
    EXPECT_EQ(steps[4].rtsControl, kRtsControlEnable);
    EXPECT_EQ(platform.timeouts.readInterval, 0u);
    EXPECT_EQ(platform.timeouts.readTotalMultiplier, 0u);
    EXPECT_EQ(platform.timeouts.readTotalConstant, 50u);
}

TEST_F(ConfigureSteps, LeaveDtrAndXonXoffAsTheyWereFound) {
    port.Configure(9600, 10);
    EXPECT_EQ(platform.state.dtrControl, kDtrControlDisable);
    EXPECT_TRUE(platform.state.outX);
    EXPECT_TRUE(platform.state.inX);
    EXPECT_TRUE(port.GetSoftwareFlowControl());
}

TEST_F(ConfigureSteps, RefusedRateStopsAtTheFirstStepAndStaysInTheCopy) {
    platform.refuseState = [](const PortState& state) { return state.baudRate == 230400; };
    platform.refusalDetail = "the port runs at most 115200 baud";
    try {
        port.Configure(230400, 50);
        ADD_FAILURE() << "nothing raised";
    } catch (const PortError& error) {
        EXPECT_STREQ(error.what(), messages::kPortSetStateFailed);
        EXPECT_EQ(error.Detail(),
                  "The port refused 230400 baud: the port runs at most 115200 baud.");
    }
    platform.calls.erase(platform.calls.begin() + 1, platform.calls.end());
    EXPECT_EQ(platform.calls, (Calls{"SetState"}));
    EXPECT_EQ(port.GetBaudRate(), 230400u);
    EXPECT_EQ(platform.state.baudRate, 4800u);
    EXPECT_EQ(platform.state.parity, kParityEven);
    EXPECT_EQ(platform.timeouts.readTotalConstant, 0u);
}

// --- Read time-outs --------------------------------------------------------

class ReadTimeoutChanges : public ConfigureSteps {};

TEST_F(ReadTimeoutChanges, AllOnesIntervalMakesBothTotalsZero) {
    port.SetReadTimeouts(kReadIntervalReturnAtOnce, 7, 9);
    EXPECT_EQ(platform.timeouts.readInterval, kReadIntervalReturnAtOnce);
    EXPECT_EQ(platform.timeouts.readTotalMultiplier, 0u);
    EXPECT_EQ(platform.timeouts.readTotalConstant, 0u);
}

TEST_F(ReadTimeoutChanges, NeverTouchTheWriteValues) {
    platform.timeouts.writeTotalMultiplier = 123;
    platform.timeouts.writeTotalConstant = 456;
    port.SetReadTimeouts(kReadIntervalReturnAtOnce, 1, 2);
    port.Configure(115200, 3000);
    EXPECT_EQ(platform.timeouts.writeTotalMultiplier, 123u);
    EXPECT_EQ(platform.timeouts.writeTotalConstant, 456u);
}

TEST_F(ReadTimeoutChanges, RefusalsRaiseTheirMessages) {
    platform.refused = {"GetTimeouts"};
    EXPECT_EQ(MessageOf([&] { port.SetReadTimeouts(0, 0, 10); }), messages::kPortGetTimeoutsFailed);
    platform.refused = {"SetTimeouts"};
    EXPECT_EQ(MessageOf([&] { port.SetReadTimeouts(0, 0, 10); }), messages::kPortSetTimeoutsFailed);
}

// --- Setters and the state copy -------------------------------------------

class StateCopy : public ConfigureSteps {};

TEST_F(StateCopy, LoadStateRefillsTheCopyFromThePort) {
    platform.state.baudRate = 57600;
    port.LoadState();
    EXPECT_EQ(port.GetBaudRate(), 57600u);
    platform.refused = {"GetState"};
    EXPECT_EQ(MessageOf([&] { port.LoadState(); }), messages::kPortGetStateFailed);
    platform.refused = {"SetState"};
    EXPECT_EQ(MessageOf([&] { port.ApplyState(); }), messages::kPortSetStateFailed);
}

// --- Line definitions ------------------------------------------------------

class LineDefinitions : public ConfigureSteps {};

TEST_F(LineDefinitions, ApplyTimeoutsThenState) {
    port.SetLineCharacteristics("baud=1200 to=on");
    EXPECT_EQ(platform.calls, (Calls{"GetTimeouts", "BuildState", "SetTimeouts", "SetState"}));
    EXPECT_EQ(port.GetBaudRate(), 1200u);
    EXPECT_EQ(platform.timeouts.writeTotalConstant, 60000u);
    EXPECT_EQ(platform.timeouts.readInterval, 0u);  // not named: kept
}

TEST_F(LineDefinitions, TextThatCannotBeParsedChangesNothing) {
    EXPECT_EQ(MessageOf([&] { port.SetLineCharacteristics("baud=fast"); }),
              messages::kPortLineCharacteristicsFailed);
    EXPECT_EQ(port.GetBaudRate(), 4800u);
    EXPECT_EQ(platform.Count("SetState"), 0u);
    EXPECT_EQ(platform.Count("SetTimeouts"), 0u);
}

TEST_F(LineDefinitions, RefusalsRaiseTheirMessages) {
    platform.refused = {"SetTimeouts"};
    EXPECT_EQ(MessageOf([&] { port.SetLineCharacteristics("baud=1200 to=on"); }),
              messages::kPortLineCharacteristicsFailed);
    platform.refused = {"SetState"};
    EXPECT_EQ(MessageOf([&] { port.SetLineCharacteristics("baud=1200 to=on"); }),
              messages::kPortSetStateFailed);
}

// --- Transfers -------------------------------------------------------------

class Transfers : public ConfigureSteps {};

TEST_F(Transfers, ReadReportsWhatArrivedAndATimeoutIsNoError) {
    platform.reads = {"", "+OK"};
    char buffer[8] = {};
    EXPECT_EQ(port.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(port.Read(buffer, sizeof buffer), 3u);
    EXPECT_EQ(std::string(buffer, 3), "+OK");
}

TEST_F(Transfers, WriteHandsTheBufferOverInOneCall) {
    EXPECT_EQ(port.Write("C\r\n", 3), 3u);
    EXPECT_EQ(platform.written, "C\r\n");
    EXPECT_EQ(platform.Count("Write"), 1u);
}

TEST_F(Transfers, ReadByteRepeatsUntilAByteArrives) {
    platform.reads = {"", "", "Z"};
    EXPECT_EQ(port.ReadByte(), 'Z');
    EXPECT_EQ(platform.Count("Read"), 3u);
    port.WriteByte(0xA5).WriteByte(0x00);
    EXPECT_EQ(platform.written, std::string("\xA5\0", 2));
}

TEST_F(Transfers, FailuresRaiseTheirMessages) {
    platform.refused = {"Read", "Write"};
    char byte = 0;
    EXPECT_EQ(MessageOf([&] { port.Read(&byte, 1); }), messages::kPortReadFailed);
    EXPECT_EQ(MessageOf([&] { port.ReadByte(); }), messages::kPortReadFailed);
    EXPECT_EQ(MessageOf([&] { port.Write("?", 1); }), messages::kPortWriteFailed);
    EXPECT_EQ(MessageOf([&] { port.WriteByte('?'); }), messages::kPortWriteFailed);
}

// --- Line signals ----------------------------------------------------------

class LineSignals : public ConfigureSteps {};

TEST_F(LineSignals, BreakNeverRaisesEvenWhenRefused) {
    platform.refused = {"SetBreak", "ClearBreak"};
    EXPECT_EQ(MessageOf([&] { port.SetBreak().ClearBreak(); }), "(nothing raised)");
    EXPECT_EQ(platform.calls, (Calls{"SetBreak", "ClearBreak"}));
}

TEST_F(LineSignals, ModemSignalsAndMaxBaudComeFromThePlatform) {
    platform.modemSignals = kModemCts | kModemCarrier;
    EXPECT_EQ(port.GetModemSignals(), kModemCts | kModemCarrier);
    EXPECT_EQ(port.GetMaxBaud(), 0x10000000u);
    platform.refused = {"GetModemStatus", "GetProperties"};
    EXPECT_EQ(MessageOf([&] { port.GetModemSignals(); }), messages::kPortModemSignalsFailed);
    EXPECT_EQ(MessageOf([&] { port.GetMaxBaud(); }), messages::kPortPropertiesFailed);
}

// --- Closing ---------------------------------------------------------------

TEST_F(ConfigureSteps, RefusedNegativeRateIsNamedAsTheNegativeNumber) {
    platform.refuseState = [](const PortState& state) { return state.baudRate > 0x7fffffffu; };
    try {
        port.Configure(static_cast<uint32_t>(-5), 50);
        ADD_FAILURE() << "nothing raised";
    } catch (const PortError& error) {
        EXPECT_EQ(error.Detail(), "The port refused -5 baud.");
    }
    EXPECT_EQ(port.GetBaudRate(), 4294967291u);  // the pattern itself is what was refused
    try {
        port.Configure(0x80000000u, 50);
        ADD_FAILURE() << "nothing raised";
    } catch (const PortError& error) {
        EXPECT_EQ(error.Detail(), "The port refused -2147483648 baud.");
    }
}

TEST_F(ConfigureSteps, RefusalNamesEverySettingThatWouldHaveChanged) {
    platform.refused = {"SetState"};
    // A refused value stays in the copy, so the next refusal names it too.
    MessageOf([&] { port.SetParity(kParityOdd); });
    try {
        port.SetDataBits(6);
        ADD_FAILURE() << "nothing raised";
    } catch (const PortError& error) {
        EXPECT_EQ(error.Detail(), "The port refused 6 data bits, odd parity.");
    }
}

TEST(PortClosing, DestructionAfterASetUpLetsTheQueueDrainThenCloses) {
    FakePortPlatform platform;
    {
        COMPort port("COM1", platform);
        port.Configure(9600, 50);
        platform.calls.clear();
        platform.queuedOutput = 960;  // one second of line time at 9600 baud
    }
    EXPECT_EQ(platform.calls, (Calls{"QueuedOutput", "DrainOutput", "Close"}));
    EXPECT_EQ(platform.drainWaits, (std::vector<uint32_t>{1000 + COMPort::kDrainMarginMs}));
}

TEST(PortClosing, AnEarlyEndPutsBackTheSettingsFoundAtOpen) {
    FakePortPlatform platform;
    const PortState found = platform.state;
    platform.refuseState = [](const PortState& state) { return state.baudRate == 12345; };
    MessageOf([&] {
        COMPort port("COM1", platform);
        ASSERT_TRUE(platform.state.outxCtsFlow);
        port.Configure(12345, 50);
    });
    EXPECT_FALSE(platform.state.outxCtsFlow);
    EXPECT_EQ(platform.state.rtsControl, found.rtsControl);
    EXPECT_EQ(platform.state.baudRate, found.baudRate);
    EXPECT_EQ(platform.calls.back(), "Close");
}

TEST(PortTransfers, DrainWaitsAtMostTheQueuesLineTimeAndFailsWithTheDevice) {
    FakePortPlatform platform;
    COMPort port("COM1", platform);
    port.Configure(115200, 50);
    port.DrainOutput();  // nothing queued: no wait
    platform.queuedOutput = 4000;
    port.DrainOutput();
    EXPECT_EQ(platform.drainWaits, (std::vector<uint32_t>{348 + COMPort::kDrainMarginMs}));
    platform.queuedOutput = 1;
    platform.refused = {"DrainOutput"};
    EXPECT_EQ(MessageOf([&] { port.DrainOutput(); }), messages::kPortWriteFailed);
    platform.refused.clear();
}

TEST(PortClosing, CloseFailureRaisesItsMessage) {
    FakePortPlatform platform;
    EXPECT_EQ(MessageOf([&] {
                  COMPort port("COM1", platform);
                  platform.refused = {"Close"};
              }),
              messages::kPortCloseFailed);
}

TEST(PortClosing, CloseFailureDuringAnotherErrorLetsThatErrorThrough) {
    FakePortPlatform platform;
    EXPECT_EQ(MessageOf([&] {
                  COMPort port("COM1", platform);
                  platform.refused = {"Close", "Read"};
                  char byte = 0;
                  port.Read(&byte, 1);
              }),
              messages::kPortReadFailed);
    EXPECT_EQ(platform.Count("Close"), 1u);
}

TEST(PortClosing, PortMadeWhileAnErrorLeavesStillReportsItsOwnCloseFailure) {
    FakePortPlatform platform;
    struct CloseInsideUnwinding {
        FakePortPlatform& platform;
        std::string seen;
        ~CloseInsideUnwinding() {
            seen = MessageOf([&] {
                COMPort port("COM1", platform);
                platform.refused = {"Close"};
            });
            EXPECT_EQ(seen, messages::kPortCloseFailed);
        }
    };
    const auto raiseWithGuard = [&] {
        CloseInsideUnwinding guard{platform, ""};
        throw std::logic_error("first");
    };
    EXPECT_THROW(raiseWithGuard(), std::logic_error);
}

// --- Dropping the queue when the operator ends the run ----------------------

TEST(PortDropping, AQueueOfNBytesIsDroppedAndCountedAsNeverSent) {
    FakePortPlatform platform;
    COMPort port("COM1", platform);
    platform.calls.clear();
    platform.queuedOutput = 300;
    EXPECT_EQ(port.DropOutput(), 300u);
    EXPECT_EQ(platform.calls, (Calls{"QueuedOutput", "DiscardOutput", "QueuedOutput"}));
    EXPECT_EQ(port.DropOutput(), 0u) << "nothing is left to drop";
}

// A pseudo-terminal has no queue to ask; a drop there would throw away what
// its other side has not read yet.
TEST(PortDropping, AQueueThatReadsEmptyIsNeverDropped) {
    FakePortPlatform platform;
    COMPort port("COM1", platform);
    platform.calls.clear();
    EXPECT_EQ(port.DropOutput(), 0u);
    EXPECT_EQ(platform.calls, (Calls{"QueuedOutput"}));
}

// What the driver keeps after the drop goes out before the close: only what
// it let go of was dropped. A refused drop or look drops nothing.
TEST(PortDropping, OnlyWhatTheDriverLetGoOfCountsAsDropped) {
    struct Case {
        uint32_t kept;
        std::vector<std::string> refused;
        uint32_t dropped;
    };
    const std::vector<Case> cases = {
        {300, {}, 0}, {120, {}, 180}, {0, {"DiscardOutput"}, 0}, {0, {"QueuedOutput"}, 0}};
    for (const Case& c : cases) {
        FakePortPlatform platform;
        COMPort port("COM1", platform);
        platform.queuedOutput = 300;
        platform.keptByDiscard = c.kept;
        platform.refused.insert(c.refused.begin(), c.refused.end());
        EXPECT_EQ(port.DropOutput(), c.dropped) << c.kept;
        platform.refused.clear();
    }
}

// The port closed after an interrupt drops its queue by the same rule: a
// queue that reads empty is left alone.
TEST(PortDropping, ClosingAfterAnInterruptDropsOnlyAQueueThatHoldsBytes) {
    for (const uint32_t queued : {0u, 64u}) {
        FakePortPlatform platform;
        {
            COMPort port("COM1", platform);
            NoteInterrupt(2);
            EXPECT_THROW(port.WriteByte('x'), InterruptedError);
            ClearInterrupt();
            platform.calls.clear();
            platform.queuedOutput = queued;
        }
        EXPECT_EQ(platform.Count("DiscardOutput"), queued == 0 ? 0u : 1u) << queued;
        EXPECT_EQ(platform.Count("DrainOutput"), 0u) << queued;
        EXPECT_EQ(platform.calls.back(), "Close");
    }
}

TEST(PortDropping, BytesWrittenCountsEveryByteThePlatformTook) {
    FakePortPlatform platform;
    COMPort port("COM1", platform);
    port.Write("R\r\n", 3);
    EXPECT_EQ(port.BytesWritten(), 3u);
    // An interrupt noticed after the platform took the write: it counts.
    platform.board = [](const std::string&) {
        NoteInterrupt(2);
        return std::string();
    };
    EXPECT_THROW(port.Write(":00000001FF\r\n", 13), InterruptedError);
    EXPECT_EQ(port.BytesWritten(), 16u);
    // Noticed before the write: nothing is taken.
    EXPECT_THROW(port.Write("C\r\n", 3), InterruptedError);
    ClearInterrupt();
    EXPECT_EQ(port.BytesWritten(), 16u);
    platform.refused = {"Write"};
    EXPECT_EQ(MessageOf([&] { port.Write("C\r\n", 3); }), messages::kPortWriteFailed);
    EXPECT_EQ(port.BytesWritten(), 16u);
    platform.refused.clear();
}

}  // namespace
