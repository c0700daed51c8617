#pragma once
// What the tests of a gang share: a gang of simulated boards with its
// command line, and readers of the gang's output (each port's own lines, the
// summary's rows).

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/protocol/DownloadTestSupport.h"
#include "tests/support/Harness.h"

namespace gang_test {

using download_test::kRunGuardMs;

inline const std::string kIdentity = "KELVOR DSP boot loader 2.4";

struct Gang {
    std::vector<std::unique_ptr<sim::Board>> boards;
    std::vector<std::string> ports;
    std::string content = harness::SampleHex(250);
    std::string dataFile = harness::WriteTempFile(content);

    explicit Gang(const std::vector<sim::BoardConfig>& configs) {
        for (const sim::BoardConfig& config : configs) {
            boards.push_back(harness::StartBoard(config));
            ports.push_back(harness::PortName(*boards.back()));
        }
    }

    std::string List() const {
        std::string list;
        for (const std::string& port : ports) {
            list += (list.empty() ? "" : ",") + port;
        }
        return list;
    }

    std::vector<std::string> Args(std::vector<std::string> extra = {}) const {
        std::vector<std::string> args = {"--gang", List(), "-F", dataFile};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    // The name a port's lines are marked with.
    std::string Mark(size_t i) const {
        const std::string& port = ports[i];
        const size_t slash = port.rfind('/');
        const size_t folder = slash == std::string::npos ? slash : port.rfind('/', slash - 1);
        return "[" + (slash == std::string::npos ? port : port.substr(folder + 1)) + "] ";
    }
};

// The rows of the summary table, each with its columns apart by one space
// and without its last column (the seconds), and the tally line.
inline std::vector<std::string> SummaryRows(const std::string& out) {
    std::vector<std::string> rows;
    const std::string heading = "Gang summary:\n";
    const size_t at = out.find(heading);
    if (at == std::string::npos) {
        return rows;
    }
    std::istringstream lines(out.substr(at + heading.size()));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::vector<std::string> columns;
        for (std::string word; words >> word;) {
            columns.push_back(word);
        }
        if (line.find(" ports complete.") == std::string::npos && !columns.empty()) {
            columns.pop_back();
        }
        std::string row;
        for (const std::string& column : columns) {
            row += (row.empty() ? "" : " ") + column;
        }
        rows.push_back(row);
    }
    return rows;
}

// The lines marked with mark, without it. Progress between the first and
// the last shows at most once a second: how much of it there is depends on
// the machine's pace, so it is left out.
inline std::string OwnLines(const std::string& out, const std::string& mark) {
    std::string own;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const bool between = line.find(" lines uploaded (") != std::string::npos &&
                             line != mark + "0 lines uploaded (0%)" &&
                             line != mark + "250 lines uploaded (100%)";
        if (line.rfind(mark, 0) == 0 && !between) {
            own += line.substr(mark.size()) + "\n";
        }
    }
    return own;
}

inline std::string Row(const std::string& port, const std::string& board,
                       const std::string& outcome, int records) {
    return port + " " + board + " " + outcome + " " + std::to_string(records);
}

// The board received exactly the whole download: a poll, the request, the
// records, the count and then tail, nothing else.
inline bool ReceivedOwnDownload(const sim::Board& board, const std::string& content,
                                const std::string& tail = "S\r\n") {
    const std::string expected = "?\r\nR\r\n" + download_test::OnWire(content) + "C\r\n" + tail;
    board.WaitForBytes(static_cast<int64_t>(expected.size()), kRunGuardMs);
    return board.Received() == expected;
}

}  // namespace gang_test
