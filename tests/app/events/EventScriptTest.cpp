// The event stream's guide has a worked script that programs a board by the
// events alone; it is taken from the guide as printed and run against
// simulated boards: a complete board passes, a board that miscounts fails.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/support/Harness.h"

namespace {

constexpr int kGuardMs = 60000;
const std::string kIdentity = "KELVOR DSP boot loader 2.4";

// The script between its fence lines in docs/events.md.
std::string PrintedScript() {
    return harness::FencedBlock(
        VANTOIR_SOURCE_DIR "/docs/events.md",
        "```python\n#!/usr/bin/env python3\n# program-by-events PORT IMAGE");
}

class EventScript : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string text = PrintedScript();
        ASSERT_FALSE(text.empty()) << "the worked example is no longer in the guide";
        script = harness::WriteTempFile(text, "program-by-events");
        ASSERT_EQ(chmod(script.c_str(), 0755), 0);
        image = harness::WriteTempFile(harness::SampleHex(400));
    }

    // The script run as a station would: vantoir found on the PATH.
    harness::ProcessResult Run(const sim::Board& board) const {
        harness::ProcessOptions options;
        options.binary = "/usr/bin/env";
        options.args = {"PATH=" + harness::FolderOf(harness::VantoirBinary()) + ":/usr/bin:/bin",
                        script, harness::PortName(board), image};
        options.workDir = harness::FolderOf(script);
        return harness::Run(options, kGuardMs);
    }

    std::string script;
    std::string image;
};

TEST_F(EventScript, ACompleteBoardPassesAndOneThatMiscountsFails) {
    SKIP_UNDER_WINE("the script runs the program by its name on the PATH");
    sim::BoardConfig config;
    config.expectFlash = true;
    auto good = harness::StartBoard(config);
    const harness::ProcessResult passed = Run(*good);
    EXPECT_EQ(passed.exitStatus, 0) << harness::Describe(passed);
    EXPECT_EQ(passed.out, "board: " + kIdentity + "\nsent 400 record lines\nboard " + kIdentity +
                              ": complete, 400 lines confirmed\nresult: complete\n");
    EXPECT_EQ(passed.err, "");
    // The board takes the start command in its own time after the run ends.
    ASSERT_TRUE(good->WaitForStart(kGuardMs));
    EXPECT_TRUE(good->Summary().downloadComplete);

    config.countOffset = 1;
    auto bad = harness::StartBoard(config);
    const harness::ProcessResult failed = Run(*bad);
    EXPECT_EQ(failed.exitStatus, 1) << harness::Describe(failed);
    EXPECT_EQ(failed.out, "board: " + kIdentity + "\nsent 400 record lines\nboard " + kIdentity +
                              ": count-mismatch, 401 lines confirmed\nresult: count-mismatch\n");
    EXPECT_EQ(failed.err, "");
}

}  // namespace
