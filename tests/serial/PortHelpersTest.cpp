// The platform-neutral helpers of the port layer: read time-out rules, line
// definitions, port names and the rates of a whole-number divisor.

#include <gtest/gtest.h>

#include <chrono>

#include "serial/DivisorRate.h"
#include "serial/PortDefinition.h"
#include "serial/PortName.h"
#include "serial/PortReadTimer.h"

namespace {

using Clock = PortReadTimer::Clock;
using std::chrono::milliseconds;

const Clock::time_point kStart{};

PortTimeouts ReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
    PortTimeouts timeouts;
    timeouts.readInterval = interval;
    timeouts.readTotalMultiplier = multiplier;
    timeouts.readTotalConstant = constant;
    return timeouts;
}

// --- Read time-out rules ---------------------------------------------------

TEST(ReadTimeoutRules, AllZeroWaitsWithoutLimit) {
    PortReadTimer timer(ReadTimeouts(0, 0, 0), 4, kStart);
    EXPECT_EQ(timer.Remaining(kStart + milliseconds(100000), 3), PortReadTimer::kWaitForever);
}

TEST(ReadTimeoutRules, TotalIsMultiplierTimesCountPlusConstant) {
    PortReadTimer timer(ReadTimeouts(0, 10, 50), 3, kStart);
    EXPECT_EQ(timer.Remaining(kStart, 0), milliseconds(80));
    EXPECT_EQ(timer.Remaining(kStart + milliseconds(79), 2), milliseconds(1));
    EXPECT_LE(timer.Remaining(kStart + milliseconds(80), 2).count(), 0);
}

TEST(ReadTimeoutRules, LargeValuesDoNotWrapAround) {
    PortReadTimer timer(ReadTimeouts(0, 0xFFFFFFFEu, 0xFFFFFFFEu), 0xFFFFFFFFu, kStart);
    EXPECT_GT(timer.Remaining(kStart + milliseconds(1000000), 0), milliseconds(1000000));
}

TEST(ReadTimeoutRules, AllOnesIntervalWithoutTotalsEndsAtOnce) {
    PortReadTimer timer(ReadTimeouts(kReadIntervalReturnAtOnce, 0, 0), 128, kStart);
    EXPECT_LE(timer.Remaining(kStart, 0).count(), 0);
}

TEST(ReadTimeoutRules, AllOnesIntervalWithTotalsEndsOnTheFirstBytes) {
    PortReadTimer timer(ReadTimeouts(kReadIntervalReturnAtOnce, 0, 500), 128, kStart);
    EXPECT_EQ(timer.Remaining(kStart, 0), milliseconds(500));
    EXPECT_LE(timer.Remaining(kStart + milliseconds(1), 1).count(), 0);
}

TEST(ReadTimeoutRules, IntervalCountsFromTheLastBytesOnly) {
    PortReadTimer timer(ReadTimeouts(20, 0, 0), 10, kStart);
    EXPECT_EQ(timer.Remaining(kStart + milliseconds(500), 0), PortReadTimer::kWaitForever);
    timer.BytesArrived(kStart + milliseconds(500));
    EXPECT_EQ(timer.Remaining(kStart + milliseconds(510), 1), milliseconds(10));
    EXPECT_LE(timer.Remaining(kStart + milliseconds(520), 1).count(), 0);
}

TEST(ReadTimeoutRules, IntervalAndTotalTheEarlierWins) {
    PortReadTimer timer(ReadTimeouts(20, 0, 100), 10, kStart);
    timer.BytesArrived(kStart + milliseconds(90));
    EXPECT_EQ(timer.Remaining(kStart + milliseconds(90), 1), milliseconds(10));
}

// --- Line definitions ------------------------------------------------------

TEST(LineDefinitionTexts, KeyValueFormSetsTheNamedFields) {
    PortState state;
    PortTimeouts timeouts;
    ASSERT_TRUE(
        ParsePortDefinition("baud=9600 parity=E\tdata=7  stop=2 xon=on to=on", state, timeouts));
    EXPECT_EQ(state.baudRate, 9600u);
    EXPECT_EQ(state.parity, kParityEven);
    EXPECT_EQ(state.byteSize, 7);
    EXPECT_EQ(state.stopBits, kStopBitsTwo);
    EXPECT_TRUE(state.outX && state.inX);
    EXPECT_EQ(timeouts.writeTotalConstant, kDefinitionWriteTimeoutMs);
    EXPECT_EQ(timeouts.readTotalConstant, 0u);
}

TEST(LineDefinitionTexts, ShortFormWithDeviceNameAndAbbreviatedRate) {
    PortState state;
    PortTimeouts timeouts;
    ASSERT_TRUE(ParsePortDefinition("COM2: 96,o,5,1.5", state, timeouts));
    EXPECT_EQ(state.baudRate, 9600u);
    EXPECT_EQ(state.parity, kParityOdd);
    EXPECT_EQ(state.byteSize, 5);
    EXPECT_EQ(state.stopBits, kStopBitsOneAndHalf);
}

TEST(LineDefinitionTexts, FieldsNotNamedKeepTheirValues) {
    PortState state;
    state.parity = kParityMark;
    state.dtrControl = kDtrControlDisable;
    PortTimeouts timeouts{1, 2, 3, 4, 5};
    ASSERT_TRUE(ParsePortDefinition("115200,,8", state, timeouts));
    EXPECT_EQ(state.baudRate, 115200u);
    EXPECT_EQ(state.parity, kParityMark);
    EXPECT_EQ(state.dtrControl, kDtrControlDisable);
    EXPECT_EQ(timeouts.readInterval, 1u);
    EXPECT_EQ(timeouts.writeTotalConstant, 5u);
}

TEST(LineDefinitionTexts, HandshakeSwitches) {
    PortState state;
    PortTimeouts timeouts;
    ASSERT_TRUE(ParsePortDefinition("octs=on rts=hs dtr=off odsr=off", state, timeouts));
    EXPECT_TRUE(state.outxCtsFlow);
    EXPECT_EQ(state.rtsControl, kRtsControlHandshake);
    EXPECT_EQ(state.dtrControl, kDtrControlDisable);
    ASSERT_TRUE(ParsePortDefinition("9600,n,8,1,p", state, timeouts));
    EXPECT_EQ(state.rtsControl, kRtsControlHandshake);
    ASSERT_TRUE(ParsePortDefinition("9600,n,8,1,x", state, timeouts));
    EXPECT_FALSE(state.outxCtsFlow);
    EXPECT_TRUE(state.outX && state.inX);
}

TEST(LineDefinitionTexts, TextsThatCannotBeParsed) {
    for (const char* text : {"", "   ", "baud=", "baud=fast", "baud=99999999999", "parity=x",
                             "data=9", "stop=3", "speed=9600", "to=maybe", "9600,n,8,1,x,extra",
                             ",n,8,1", "9600;n;8;1", "rts=sometimes"}) {
        PortState state;
        PortTimeouts timeouts;
        EXPECT_FALSE(ParsePortDefinition(text, state, timeouts)) << text;
    }
}

// --- Port names ------------------------------------------------------------

TEST(PortNames, ComNamesCountFromTtyS0) {
    EXPECT_EQ(DevicePathForPortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(DevicePathForPortName("com12"), "/dev/ttyS11");
}

TEST(PortNames, PathsStandAndOtherNamesLiveUnderDev) {
    EXPECT_EQ(DevicePathForPortName("/dev/ttyACM0"), "/dev/ttyACM0");
    EXPECT_EQ(DevicePathForPortName("./board"), "./board");
    EXPECT_EQ(DevicePathForPortName("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(DevicePathForPortName("COM0"), "/dev/COM0");
    EXPECT_EQ(DevicePathForPortName("COMX"), "/dev/COMX");
    EXPECT_EQ(DevicePathForPortName("COM99999999999"), "/dev/COM99999999999");
}

// --- Rates of a whole-number divisor --------------------------------------

TEST(DivisorRates, StandardRatesOfAUartClockAreExact) {
    for (uint32_t rate : {115200u, 57600u, 38400u, 19200u, 9600u, 1200u, 300u}) {
        EXPECT_EQ(DivisorRate(115200, rate), rate);
        EXPECT_EQ(RateDeviationTenths(DivisorRate(115200, rate), rate), 0);
    }
}

TEST(DivisorRates, OthersRunAtTheNearestDivisor) {
    EXPECT_EQ(DivisorRate(115200, 12345), 12800u);     // divisor 9
    EXPECT_EQ(RateDeviationTenths(12800, 12345), 37);  // +3.7 %, past the limit
    EXPECT_EQ(DivisorRate(115200, 76800), 57600u);     // 1.5 rounds up to 2
    EXPECT_EQ(RateDeviationTenths(57600, 76800), -250);
    EXPECT_EQ(DivisorRate(115200, 100000), 115200u);
    EXPECT_EQ(DivisorRate(115200, 500000), 115200u);  // divisor at least 1
    EXPECT_EQ(DivisorRate(115200, 1), 2u);            // divisor at most 65535
    EXPECT_EQ(DivisorRate(0, 9600), 0u);
    // 1 % is still taken; any more is not.
    EXPECT_EQ(RateDeviationTenths(1010, 1000), 10);
    EXPECT_EQ(RateDeviationTenths(10101, 10000), 11);
    EXPECT_EQ(RateDeviationTenths(9899, 10000), -11);
}

}  // namespace
