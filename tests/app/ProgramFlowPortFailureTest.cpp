// The program flow's one handler, over a platform layer that fails on demand:
// the port is closed by unwinding, and a close that fails while an error is
// already on its way neither hides that error nor ends the program abnormally.
// Every early end, whatever layer it comes from, gives the port back before
// the run's end is reported.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/ProgramFlow.h"
#include "tests/app/InProcessRun.h"

namespace {

class FailingPlatform : public PortPlatform {
  public:
    bool failRead = false;
    bool failClose = false;
    bool open = false;
    int opens = 0;

    PortHandle Open(const char*) override {
        open = true;
        ++opens;
        return 7;
    }
    bool Close(PortHandle) override {
        open = false;
        return !failClose;
    }
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

    const PortState& Current() const { return current; }

  private:
    PortState current;
    PortTimeouts currentTimeouts;
};

class ProgramFlowPortFailure : public InProcessRun {
  protected:
    void SetUp() override { WriteDataFile(":00000001FF\n"); }

    // Runs the program over the fake port "fake"; the arguments follow
    // "-P fake".
    RunEnd Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"-P", "fake"});
        return InProcessRun::Run(args, platform);
    }

    FailingPlatform platform;
};

TEST_F(ProgramFlowPortFailure, CloseFailureDuringUnwindingKeepsTheFirstError) {
    platform.failRead = true;
    platform.failClose = true;
    const RunEnd end = Run({"-F", dataPath});
    EXPECT_EQ(end.status, 1);
    EXPECT_EQ(end.message, "Error occurred: COMPort: read failed.\n");
}

TEST_F(ProgramFlowPortFailure, CloseFailureAfterACompleteRunIsReported) {
    platform.failClose = true;
    const RunEnd end = Run({"-R", "-F", dataPath});
    EXPECT_EQ(end.status, 1);
    EXPECT_EQ(end.message, "Error occurred: COMPort: failed to close.\n");
}

// Opening turns the RTS/CTS handshake on; an end before any line set-up must
// close the port with the handshake off again, and only then report.
TEST_F(ProgramFlowPortFailure, EveryEarlyEndClosesThePortWithTheSettingsFoundAtOpen) {
    const std::string missing = dataPath + ".missing";
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"-F", missing}, "Can't open file " + missing + " for upload\n"},
        {{}, "Can't open file  for upload\n"},
    };
    for (const Case& c : cases) {
        const RunEnd end = Run(c.args);
        EXPECT_EQ(end.status, 1) << c.message;
        EXPECT_EQ(end.message, c.message);
        EXPECT_FALSE(platform.open) << c.message;
        EXPECT_FALSE(platform.Current().outxCtsFlow) << c.message;
        EXPECT_NE(platform.Current().rtsControl, kRtsControlHandshake) << c.message;
    }
}

TEST_F(ProgramFlowPortFailure, ARawCopyWithoutItsFileClosesThePortBeforeReporting) {
    const RunEnd end = Run({"-R", "-F", dataPath + ".missing"});
    EXPECT_EQ(end.status, 1);
    EXPECT_EQ(end.message, "Can't open file " + dataPath + ".missing for upload\n");
    EXPECT_FALSE(platform.open);
}

TEST_F(ProgramFlowPortFailure, ARejectedArgumentIsReportedWithoutOpeningThePort) {
    const RunEnd end = Run({"-X"});
    EXPECT_EQ(end.status, 1);
    EXPECT_EQ(end.message, "Unknown commandline switch: -X\n");
    const RunEnd missing = Run({"-F"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.message, "Missing argument to switch -F\n");
    EXPECT_EQ(platform.opens, 0);
}

}  // namespace
