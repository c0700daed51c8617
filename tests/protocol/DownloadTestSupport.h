#pragma once
// What the download tests expect to see: the fixed texts of a session, the
// wire form of record lines, and a reader for the commands on the wire.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "tests/support/Harness.h"

namespace download_test {

inline constexpr int kRunGuardMs = 60000;

inline const std::string kPrompt =
    "\nPlease cycle the power (i.e., switch off, wait approx. 5 seconds, and switch\n"
    "back on) on the Kelvor receiver now. Communication will then be etablished.\n\n";

inline std::string Established(const std::string& identity) {
    return "Established communication: " + identity + "\n";
}

// The echo line the command line prints first.
inline std::string EchoLine(const std::vector<std::string>& args) {
    std::string line = "Parsed command line:";
    for (const std::string& arg : args) {
        line += " " + arg;
    }
    return line + "\n";
}

inline std::string Progress(int lines, int percent) {
    return "\r" + std::to_string(lines) + " lines uploaded (" + std::to_string(percent) + "%)";
}

// The percentage shown once the file's first byteCount bytes are consumed.
inline int Percent(size_t byteCount, size_t fileBytes) {
    return static_cast<int>(100 * static_cast<int64_t>(byteCount) /
                            static_cast<int64_t>(fileBytes));
}

// Splits text after every LF (a last piece without LF is kept).
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// The progress lines of an upload of a file whose lines are all records and
// end in LF (no CR): one per 100 lines while sending, then the final one.
inline std::string UploadProgress(const std::string& content) {
    const std::vector<std::string> lines = Lines(content);
    std::string progress;
    size_t consumed = 0;
    for (size_t index = 0; index < lines.size(); ++index) {
        consumed += lines[index].size();
        if (index % 100 == 0) {
            progress += Progress(static_cast<int>(index), Percent(consumed, content.size()));
        }
    }
    return progress + Progress(static_cast<int>(lines.size()), 100) + "\n";
}

// The record lines as they travel: every LF as CR LF.
inline std::string OnWire(const std::string& content) {
    std::string wire;
    for (char c : content) {
        if (c == '\n') {
            wire += '\r';
        }
        wire += c;
    }
    return wire;
}

// Takes one or more repetitions of command from the front of wire; returns
// how many there were.
inline int TakeRepeated(std::string& wire, const std::string& command) {
    int count = 0;
    while (wire.compare(0, command.size(), command) == 0) {
        wire.erase(0, command.size());
        ++count;
    }
    return count;
}

// Checks that wire is: "?" one or more times, "R" one or more times, then
// records, then "C" one or more times, then tail.
inline void ExpectSessionOnWire(std::string wire, const std::string& records,
                                const std::string& tail) {
    EXPECT_GE(TakeRepeated(wire, "?\r\n"), 1);
    EXPECT_GE(TakeRepeated(wire, "R\r\n"), 1);
    ASSERT_EQ(wire.compare(0, records.size(), records), 0) << "records differ on the wire";
    wire.erase(0, records.size());
    EXPECT_GE(TakeRepeated(wire, "C\r\n"), 1);
    EXPECT_EQ(wire, tail);
}

// Runs vantoir with args against board and returns the result.
inline harness::ProcessResult Download(sim::Board& board, const std::string& dataFile,
                                       std::vector<std::string> extraArgs = {}) {
    std::vector<std::string> args = {"-P", harness::PortName(board), "-F", dataFile};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    return harness::RunVantoir(args, kRunGuardMs);
}

}  // namespace download_test
