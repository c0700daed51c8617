// The Windows port layer's own Win32 calls (serial/Win32CommApi.h), seen
// through its table: what a line sequence and every later set-up of the
// line ask of the driver, in order. Windows build only.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/COMPort.h"
#include "serial/LineSequence.h"
#include "serial/PortPlatform.h"
#include "serial/Win32CommApi.h"

namespace {

// The driver the table leads to: one port, its DCB, and the calls made.
struct FakeDriver {
    DCB dcb{};
    COMMTIMEOUTS timeouts{};
    DWORD modemStatus = MS_CTS_ON | MS_DSR_ON;
    bool modemStatusFails = false;
    DWORD outQueue = 0;  // cbOutQue: bytes the driver still holds for the line
    std::vector<std::string> calls;
};

FakeDriver driver;
const HANDLE kPort = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x4711));

std::string Lines(const DCB& dcb) {
    return "dtr=" + std::to_string(dcb.fDtrControl) + " rts=" + std::to_string(dcb.fRtsControl);
}

HANDLE WINAPI FakeCreateFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    return kPort;
}
BOOL WINAPI FakeCloseHandle(HANDLE) {
    driver.calls.push_back("CloseHandle");
    return TRUE;
}
BOOL WINAPI FakeGetCommState(HANDLE, LPDCB dcb) {
    *dcb = driver.dcb;
    return TRUE;
}
BOOL WINAPI FakeSetCommState(HANDLE, LPDCB dcb) {
    driver.dcb = *dcb;
    driver.calls.push_back("SetCommState " + Lines(*dcb));
    return TRUE;
}
BOOL WINAPI FakeGetCommTimeouts(HANDLE, LPCOMMTIMEOUTS timeouts) {
    *timeouts = driver.timeouts;
    return TRUE;
}
BOOL WINAPI FakeSetCommTimeouts(HANDLE, LPCOMMTIMEOUTS timeouts) {
    driver.timeouts = *timeouts;
    driver.calls.push_back("SetCommTimeouts " + std::to_string(timeouts->ReadTotalTimeoutConstant));
    return TRUE;
}
BOOL WINAPI FakeEscapeCommFunction(HANDLE, DWORD function) {
    driver.calls.push_back(function == SETDTR   ? "EscapeCommFunction SETDTR"
                           : function == CLRDTR ? "EscapeCommFunction CLRDTR"
                                                : "EscapeCommFunction other");
    return TRUE;
}
BOOL WINAPI FakeGetCommModemStatus(HANDLE, LPDWORD status) {
    *status = driver.modemStatus;
    return driver.modemStatusFails ? FALSE : TRUE;
}
BOOL WINAPI FakeClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT status) {
    *errors = 0;
    *status = COMSTAT{};
    status->cbOutQue = driver.outQueue;
    return TRUE;
}
BOOL WINAPI FakePurgeComm(HANDLE, DWORD flags) {
    driver.calls.push_back(flags == (PURGE_TXABORT | PURGE_TXCLEAR) ? "PurgeComm TXABORT|TXCLEAR"
                                                                    : "PurgeComm other");
    driver.outQueue = 0;
    return TRUE;
}
BOOL WINAPI FakeFlushFileBuffers(HANDLE) {
    return TRUE;
}

class Win32Lines : public ::testing::Test {
  protected:
    void SetUp() override {
        saved = Win32Comm();
        driver = FakeDriver();
        driver.dcb.DCBlength = sizeof(DCB);
        driver.dcb.BaudRate = 9600;
        driver.dcb.ByteSize = 8;
        driver.dcb.fBinary = TRUE;
        driver.dcb.fDtrControl = DTR_CONTROL_ENABLE;
        driver.dcb.fRtsControl = RTS_CONTROL_ENABLE;
        Win32CommApi& api = Win32Comm();
        api.createFile = FakeCreateFile;
        api.closeHandle = FakeCloseHandle;
        api.getCommState = FakeGetCommState;
        api.setCommState = FakeSetCommState;
        api.getCommTimeouts = FakeGetCommTimeouts;
        api.setCommTimeouts = FakeSetCommTimeouts;
        api.escapeCommFunction = FakeEscapeCommFunction;
        api.getCommModemStatus = FakeGetCommModemStatus;
        api.clearCommError = FakeClearCommError;
        api.flushFileBuffers = FakeFlushFileBuffers;
        api.purgeComm = FakePurgeComm;
    }
    void TearDown() override { Win32Comm() = saved; }

    void Run(COMPort& port, const char* text) {
        LineSequence sequence;
        std::string why;
        ASSERT_TRUE(ParseLineSequence(text, sequence, why)) << why;
        RunLineSequence(port, sequence, true);
    }

    Win32CommApi saved;
};

TEST_F(Win32Lines, EachStepIsOneDcbWithBothLinesThenDtrOnceMore) {
    COMPort port("COM7", SystemPortPlatform());
    port.Configure(115200, 50);
    driver.calls.clear();
    Run(port, "dtr=1+rts=0,rts=1,dtr=0");
    EXPECT_EQ(driver.calls,
              (std::vector<std::string>{"SetCommState dtr=1 rts=0", "EscapeCommFunction SETDTR",
                                        "SetCommState dtr=1 rts=1", "EscapeCommFunction SETDTR",
                                        "SetCommState dtr=0 rts=1", "EscapeCommFunction CLRDTR"}));
}

TEST_F(Win32Lines, EveryLaterSetUpCarriesTheLinesInItsDcb) {
    {
        COMPort port("COM7", SystemPortPlatform());
        port.Configure(115200, 50);
        Run(port, "dtr=0+rts=0");
        driver.calls.clear();
        port.Configure(115200, 3000);
        port.SetBaudRate(57600);
    }
    // The set-ups, then the close: no DCB puts the lines back, nothing
    // raises them again.
    ASSERT_GE(driver.calls.size(), 3u);
    EXPECT_EQ(driver.calls.back(), "CloseHandle");
    driver.calls.pop_back();
    for (const std::string& call : driver.calls) {
        if (call.rfind("SetCommState", 0) == 0) {
            EXPECT_EQ(call, "SetCommState dtr=0 rts=0");
        } else {
            EXPECT_EQ(call.rfind("SetCommTimeouts", 0), 0u) << call;
        }
    }
}

TEST_F(Win32Lines, PortWhoseModemStatusCannotBeReadCannotSetItsLines) {
    COMPort port("COM7", SystemPortPlatform());
    driver.modemStatusFails = true;
    EXPECT_THROW(port.CheckModemLines(), std::runtime_error);
    driver.modemStatusFails = false;
    EXPECT_NO_THROW(port.CheckModemLines());
}

// The driver's queue as ClearCommError tells it (cbOutQue): a drop purges
// the transmission only when the queue holds bytes, and what the purge took
// is what never left.
TEST_F(Win32Lines, ADropPurgesOnlyAQueueThatHoldsBytesAndTellsWhatItTook) {
    COMPort port("COM7", SystemPortPlatform());
    driver.calls.clear();
    EXPECT_EQ(port.DropOutput(), 0u);
    EXPECT_TRUE(driver.calls.empty());
    driver.outQueue = 700;
    EXPECT_EQ(port.DropOutput(), 700u);
    EXPECT_EQ(driver.calls, (std::vector<std::string>{"PurgeComm TXABORT|TXCLEAR"}));
}

}  // namespace
