#pragma once
// What a simulated board got of a download that was cut short: the record
// lines it received whole, once everything the program wrote before it ended
// has arrived. A marker written to the board's port after the program has
// ended comes behind all of that; a line the program left unfinished runs
// into the marker and is not whole.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "sim/Board.h"

namespace report_test {

inline constexpr const char* kAfterTheRun = "@@\r\n";

// The record lines (":" and hex digits) the board received whole before the
// marker, each with its CR LF, as they arrived.
inline std::string WholeRecordLinesReceived(const sim::Board& board, int guardMs) {
    const int port = open(board.SlavePath().c_str(), O_WRONLY | O_NOCTTY);
    EXPECT_GE(port, 0) << board.SlavePath();
    EXPECT_EQ(write(port, kAfterTheRun, 4), 4);
    close(port);
    EXPECT_TRUE(board.WaitForReceived(kAfterTheRun, guardMs));
    const std::string received = board.Received();
    const std::string before = received.substr(0, received.find(kAfterTheRun));
    std::string lines;
    for (size_t start = 0, end; (end = before.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        const std::string line = before.substr(start, end - start);
        if (line.size() > 1 && line[0] == ':' &&
            line.find_first_not_of("0123456789ABCDEF", 1) == std::string::npos) {
            lines += line + "\r\n";
        }
    }
    return lines;
}

inline int LineCount(const std::string& lines) {
    int count = 0;
    for (size_t at = lines.find("\r\n"); at != std::string::npos; at = lines.find("\r\n", at + 2)) {
        ++count;
    }
    return count;
}

}  // namespace report_test
