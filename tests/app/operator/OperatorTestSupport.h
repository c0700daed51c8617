#pragma once
// What the operator's tests share: a file's text, the events of a run, the
// texts of board after board, and boards powered off and on between them.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "tests/app/report/ReportRecords.h"
#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"

namespace operator_test {

using report_test::Json;

inline constexpr int kGuardMs = 60000;

inline std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<Json> Events(const std::string& path) {
    return report_test::ReadRecords(path);
}

// The events named name, in order.
inline std::vector<Json> EventsNamed(const std::string& path, const std::string& name) {
    std::vector<Json> named;
    for (const Json& event : Events(path)) {
        if (event["event"] == name) {
            named.push_back(event);
        }
    }
    return named;
}

// Every event of the file is one the schema of the stream accepts.
inline void ExpectEventsValid(const std::string& path) {
    harness::ProcessOptions options;
    options.binary = "/usr/bin/python3";
    options.args = {std::string(VANTOIR_SOURCE_DIR) + "/tests/support/validate-events.py",
                    std::string(VANTOIR_SOURCE_DIR) + "/docs/events.schema.json", path};
    const harness::ProcessResult result = harness::Run(options, kGuardMs);
    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
}

inline std::string TakeAwayLine(int number) {
    return "Take board " + std::to_string(number) +
           " away (or switch it off); the next board is awaited once the line is quiet.\n";
}

// The boards of a --repeat run after the first, each once the last one's
// tally line (tally(n)) is out: the board switched off, and on again once
// the next one is awaited.
template <typename TallyOf>
void PowerCycleAfterEachBoard(sim::Board& board, harness::ChildProcess& child, int boards,
                              TallyOf tally) {
    for (int number = 1; number < boards; ++number) {
        ASSERT_TRUE(child.WaitForStdout(tally(number), kGuardMs)) << child.Stdout();
        ASSERT_TRUE(child.WaitForStdout(TakeAwayLine(number), kGuardMs)) << child.Stdout();
        board.SetPowered(false);
        ASSERT_TRUE(child.WaitForStdout(TakeAwayLine(number) + download_test::kPrompt, kGuardMs))
            << child.Stdout();
        board.SetPowered(true);
    }
}

}  // namespace operator_test
