// The program flow's one handler, over a platform layer that fails on demand:
// the port is closed by unwinding, and a close that fails while an error is
// already on its way neither hides that error nor ends the program abnormally.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/ProgramFlow.h"
#include "app/Settings.h"

namespace {

class FailingPlatform : public PortPlatform {
  public:
    bool failRead = false;
    bool failClose = false;

    PortHandle Open(const char*) override { return 7; }
    bool Close(PortHandle) override { return !failClose; }
    bool GetState(PortHandle, PortState& state) override {
        state = current;
        return true;
    }
    bool SetState(PortHandle, const PortState& state) override {
        current = state;
        return true;
    }
    bool GetTimeouts(PortHandle, PortTimeouts& timeouts) override {
        timeouts = currentTimeouts;
        return true;
    }
    bool SetTimeouts(PortHandle, const PortTimeouts& timeouts) override {
        currentTimeouts = timeouts;
        return true;
    }
    bool Read(PortHandle, void*, uint32_t, uint32_t& received) override {
        received = 0;
        return !failRead;
    }
    bool Write(PortHandle, const void*, uint32_t count, uint32_t& written) override {
        written = count;
        return true;
    }
    bool SetBreak(PortHandle) override { return true; }
    bool ClearBreak(PortHandle) override { return true; }
    bool GetModemStatus(PortHandle, uint8_t& signals) override {
        signals = 0;
        return true;
    }
    bool GetProperties(PortHandle, PortProperties&) override { return true; }
    bool QueuedOutput(PortHandle, uint32_t& queued) override {
        queued = 0;
        return true;
    }
    bool DrainOutput(PortHandle, uint32_t) override { return true; }
    std::string RefusalDetail(PortHandle) override { return std::string(); }
    bool BuildState(const char*, PortState&, PortTimeouts&) override { return true; }

  private:
    PortState current;
    PortTimeouts currentTimeouts;
};

class ProgramFlowPortFailure : public ::testing::Test {
  protected:
    void SetUp() override {
        dataPath = ::testing::TempDir() + "vantoir_flow_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".hex";
        std::FILE* file = std::fopen(dataPath.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs(":00000001FF\n", file);
        std::fclose(file);
        settings.portName = "fake";
        settings.dataFile = dataPath.c_str();
    }
    void TearDown() override { std::remove(dataPath.c_str()); }

    std::string dataPath;
    Settings settings;
    FailingPlatform platform;
};

TEST_F(ProgramFlowPortFailure, CloseFailureDuringUnwindingKeepsTheFirstError) {
    platform.failRead = true;
    platform.failClose = true;
    EXPECT_EXIT(RunProgram(settings, platform), ::testing::ExitedWithCode(1),
                "^Error occurred: COMPort: read failed.\n$");
}

TEST_F(ProgramFlowPortFailure, CloseFailureAfterACompleteRunIsReported) {
    platform.failClose = true;
    settings.mode = ModeRaw;
    EXPECT_EXIT(RunProgram(settings, platform), ::testing::ExitedWithCode(1),
                "^Error occurred: COMPort: failed to close.\n$");
}

}  // namespace
