#pragma once
// Board after board over one simulated board: the run's lines for each
// board, and the board switched off and on again for the next one.

#include <gtest/gtest.h>

#include <string>

#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"

namespace boards_test {

inline std::string TallyLine(int number, const std::string& outcome, int complete, int failed) {
    return "Board " + std::to_string(number) + ": " + outcome +
           ". Boards so far: " + std::to_string(complete) + " complete, " + std::to_string(failed) +
           " failed.\n";
}

inline std::string TakeAwayLine(int number) {
    return "Take board " + std::to_string(number) +
           " away (or switch it off); the next board is awaited once the line is quiet.\n";
}

// After board done of a run whose boards were all complete: the board is
// switched off, and on again once the run asks for the next.
inline void NextBoard(harness::ChildProcess& run, sim::Board& board, int done) {
    const std::string ended = TallyLine(done, "complete", done, 0) + TakeAwayLine(done);
    ASSERT_TRUE(run.WaitForStdout(ended, download_test::kRunGuardMs))
        << run.Stdout() << run.Stderr();
    board.SetPowered(false);
    ASSERT_TRUE(run.WaitForStdout(ended + download_test::kPrompt, download_test::kRunGuardMs));
    board.SetPowered(true);
}

}  // namespace boards_test
