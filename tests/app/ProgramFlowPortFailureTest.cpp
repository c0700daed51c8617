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
#include "tests/serial/FakePortPlatform.h"

namespace {

// A port that fails on demand: a read ("Read" refused) or the close
// ("Close"); reads otherwise time out with nothing.
class ProgramFlowPortFailure : public InProcessRun {
  protected:
    void SetUp() override {
        WriteDataFile(":00000001FF\n");
        platform.state = PortState();
        platform.readsEndInSilence = true;
    }

    // Runs the program over the fake port "fake"; the arguments follow
    // "-P fake".
    RunEnd Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"-P", "fake"});
        return InProcessRun::Run(args, platform);
    }

    FakePortPlatform platform;
};

TEST_F(ProgramFlowPortFailure, CloseFailureDuringUnwindingKeepsTheFirstError) {
    platform.refused = {"Read", "Close"};
    const RunEnd end = Run({"-F", dataPath});
    EXPECT_EQ(end.status, 1);
    EXPECT_EQ(end.message, "Error occurred: COMPort: read failed.\n");
}

TEST_F(ProgramFlowPortFailure, CloseFailureAfterACompleteRunIsReported) {
    platform.refused = {"Close"};
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
        EXPECT_FALSE(platform.state.outxCtsFlow) << c.message;
        EXPECT_NE(platform.state.rtsControl, kRtsControlHandshake) << c.message;
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
