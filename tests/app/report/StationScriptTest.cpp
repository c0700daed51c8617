// The production guide's worked station script, taken from the guide as it
// is printed and run against simulated boards: a complete board passes, and
// a run killed mid-upload fails, never passing on an earlier run's record.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "tests/support/Harness.h"

namespace {

constexpr int kGuardMs = 60000;

// The script between its fence lines in docs/production.md.
std::string PrintedScript() {
    return harness::FencedBlock(VANTOIR_SOURCE_DIR "/docs/production.md",
                                "```sh\n#!/bin/sh\n# program-board PORT IMAGE");
}

class StationScript : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string text = PrintedScript();
        ASSERT_FALSE(text.empty()) << "the worked example is no longer in the guide";
        script = harness::WriteTempFile(text, "program-board");
        ASSERT_EQ(chmod(script.c_str(), 0755), 0);
        image = harness::WriteTempFile(harness::SampleHex(400));
    }

    harness::ProcessOptions Options(const sim::Board& board) const {
        harness::ProcessOptions options;
        options.binary = "/usr/bin/env";
        options.args = {"PATH=" + harness::FolderOf(harness::VantoirBinary()) + ":/usr/bin:/bin",
                        script, harness::PortName(board), image};
        options.workDir = harness::FolderOf(script);
        return options;
    }

    std::string script;
    std::string image;
};

TEST_F(StationScript, ACompleteBoardPassesAndAKilledRunFailsAfterIt) {
    SKIP_UNDER_WINE("the station script is a POSIX shell script");
    sim::BoardConfig config;
    config.expectFlash = true;
    auto good = harness::StartBoard(config);
    const harness::ProcessResult passed = harness::Run(Options(*good), kGuardMs);
    EXPECT_EQ(passed.exitStatus, 0) << harness::Describe(passed);
    EXPECT_NE(passed.out.find("\n" + harness::PortName(*good) + ": complete\n"), std::string::npos)
        << passed.out;

    // The next run is killed outright mid-upload: it writes no record, and
    // the file's last line is still the first board's "complete".
    config.baudRate = 9600;
    auto slow = harness::StartBoard(config);
    harness::ChildProcess station(Options(*slow));
    ASSERT_TRUE(slow->WaitForRecords(20, kGuardMs)) << station.Stdout();
    // env has become the shell; its one child is the program.
    std::ifstream children("/proc/" + std::to_string(station.Pid()) + "/task/" +
                           std::to_string(station.Pid()) + "/children");
    pid_t program = 0;
    ASSERT_TRUE(children >> program);
    ASSERT_EQ(kill(program, SIGKILL), 0);
    const harness::ProcessResult killed = station.Wait(kGuardMs);

    EXPECT_EQ(killed.exitStatus, 137) << harness::Describe(killed);
    EXPECT_NE(killed.out.find(harness::PortName(*slow) + ": no record\n"), std::string::npos)
        << killed.out;
}

}  // namespace
