#pragma once
// The whole program run inside a test over a port platform of the test's
// own (RunProgram with a PortPlatform), with a data file written for the
// test: for what a fake port can show and a real one cannot (a close that
// fails, the exact order of line changes).

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/ProgramFlow.h"
#include "serial/PortPlatform.h"

class InProcessRun : public ::testing::Test {
  protected:
    // Writes the data file (dataPath) with content.
    void WriteDataFile(const std::string& content) {
        dataPath = ::testing::TempDir() + "vantoir_run_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".hex";
        std::FILE* file = std::fopen(dataPath.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs(content.c_str(), file);
        std::fclose(file);
    }
    void TearDown() override {
        if (!dataPath.empty()) {
            std::remove(dataPath.c_str());
        }
    }

    // Runs the program with args (after its name) over platform; what it
    // writes to standard output goes to output.
    RunEnd Run(std::vector<std::string> args, PortPlatform& platform) {
        args.insert(args.begin(), "vantoir");
        argumentTexts = args;
        std::vector<char*> argv;
        for (std::string& text : argumentTexts) {
            argv.push_back(text.data());
        }
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        RunEnd end = RunProgram(static_cast<int>(argumentTexts.size()), argv.data(), platform);
        output = testing::internal::GetCapturedStdout();
        return end;
    }

    std::string dataPath;
    std::string output;

  private:
    std::vector<std::string> argumentTexts;
};
