#pragma once
// Records for the yield summary's tests, written as --report writes them
// (every key, in its order) with the facts a test chooses, and the summary's
// CSV read back as rows of fields.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Harness.h"

namespace yield_test {

inline constexpr int kGuardMs = 60000;
inline const std::string kImageA(64, 'a');
inline const std::string kImageB = std::string(63, 'b') + "1";

// One record's facts; the rest of the record is as a complete run's.
struct RecordFacts {
    std::string station = "A";
    std::string port = "/dev/ttyUSB0";
    std::string label;  // empty: no label key (as before labels)
    std::string outcome = "complete";
    std::string started = "2026-12-09T08:00:00.000Z";
    double seconds = 40.0;
    bool board = true;  // false: board null
    std::string file = "app.hex";
    std::string sha256 = kImageA;
    std::string mode = "download";
    std::string recordId;  // empty: one made of the started time and port; "-": none
};

inline std::string RecordLine(const RecordFacts& run) {
    static int serial = 0;
    nlohmann::ordered_json record;
    record["version"] = "1.3";
    record["started"] = run.started;
    record["ended"] = run.started;
    record["mode"] = run.mode;
    record["port"] = run.port;
    record["device"] = run.port;
    record["usb"] = nullptr;
    record["baud"] = 115200;
    record["file"] = run.file;
    record["file_bytes"] = 14048;
    record["file_sha256"] = run.sha256;
    record["board"] = run.board ? nlohmann::json("KELVOR DSP boot loader 2.4") : nlohmann::json();
    record["board_messages"] = nlohmann::json::array({"Programming flash: 100%"});
    record["board_messages_omitted"] = 0;
    record["records_sent"] = 320;
    record["records_confirmed"] = 320;
    record["flash"] = "acknowledged";
    record["start_sent"] = run.outcome == "complete";
    record["timeout"] = nullptr;
    record["outcome"] = run.outcome;
    record["error"] = nullptr;
    record["findings"] = nlohmann::json::array();
    record["exit_status"] = run.outcome == "complete" ? 0 : 1;
    record["signal"] = nullptr;
    record["seconds"] = run.seconds;
    record["phases"] = {{"waiting", 0.5}, {"upload", 0.05}, {"count", 0.05}, {"flash", 0.45}};
    record["board_number"] = nullptr;
    record["run_id"] = "run-" + std::to_string(++serial);
    if (run.recordId != "-") {
        char id[40];
        std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", serial);
        record["record_id"] = run.recordId.empty() ? std::string(id) : run.recordId;
    }
    record["station"] = run.station;
    if (!run.label.empty()) {
        record["label"] = run.label;
    }
    return record.dump() + "\n";
}

inline std::string RecordLines(const std::vector<RecordFacts>& runs) {
    std::string text;
    for (const RecordFacts& run : runs) {
        text += RecordLine(run);
    }
    return text;
}

// A record file of the runs, in a fresh folder.
inline std::string RecordFile(const std::vector<RecordFacts>& runs,
                              const std::string& name = "r.jsonl") {
    return harness::WriteTempFile(RecordLines(runs), name);
}

// Fields of RFC 4180 lines ending in CR LF.
inline std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1);
    std::string field;
    bool quoted = false;
    for (size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (quoted) {
            if (c == '"' && at + 1 < text.size() && text[at + 1] == '"') {
                field += '"';
                ++at;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().push_back(field);
            field.clear();
        } else if (c == '\r' && at + 1 < text.size() && text[at + 1] == '\n') {
            rows.back().push_back(field);
            field.clear();
            rows.emplace_back();
            ++at;
        } else {
            field += c;
        }
    }
    rows.pop_back();  // after the last line end
    return rows;
}

inline std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What a summary printed and wrote.
struct Summary {
    harness::ProcessResult result;
    std::string csvText;
    std::vector<std::vector<std::string>> csv;  // the header first

    // The CSV line of the group and key (the first field after group and
    // station is the key), joined with commas as the file has it.
    std::string Row(const std::string& group, const std::string& station = "",
                    const std::string& key = "") const {
        for (const auto& row : csv) {
            if (row.size() >= 3 && row[0] == group && row[1] == station && row[2] == key) {
                std::string line;
                for (size_t i = 0; i < row.size(); ++i) {
                    line += (i > 0 ? "," : "") + row[i];
                }
                return line;
            }
        }
        return "no row " + group + "," + station + "," + key;
    }
};

// vantoir --yield SOURCES... with the further arguments, and its CSV.
// In workDir when given (the sources may then be named relative to it).
inline Summary Yield(const std::vector<std::string>& sources,
                     const std::vector<std::string>& more = {},
                     const std::string& workDir = std::string()) {
    Summary summary;
    const std::string csv = harness::WriteTempFile("", "yield.csv");
    std::vector<std::string> args = {"--yield"};
    args.insert(args.end(), sources.begin(), sources.end());
    args.insert(args.end(), {"--csv", csv});
    args.insert(args.end(), more.begin(), more.end());
    harness::ProcessOptions options;
    options.args = args;
    options.workDir = workDir;
    summary.result = harness::Run(options, kGuardMs);
    summary.csvText = ReadWhole(csv);
    summary.csv = CsvRows(summary.csvText);
    return summary;
}

// The line of standard output that begins with text; empty when none.
inline std::string LineStarting(const std::string& out, const std::string& text) {
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(text, 0) == 0) {
            return line;
        }
    }
    return std::string();
}

}  // namespace yield_test
