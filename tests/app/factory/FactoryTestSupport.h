#pragma once
// What the tests of the factory's database share: one PostgreSQL server of
// the suite's own (harness::PostgresServer), the records of a file and of the
// table, read back to be compared.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/records/RecordId.h"
#include "tests/support/Harness.h"
#include "tests/support/PostgresSuite.h"

namespace factory_test {

using Json = nlohmann::json;

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// The file's lines, without their line ends.
inline std::vector<std::string> FileLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream all(ReadAll(path));
    for (std::string line; std::getline(all, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The id a line of a record file is stored under: its record_id, or the
// name made from its bytes.
inline std::string IdOfLine(const std::string& line) {
    const Json record = Json::parse(line);
    return record.contains("record_id") ? record["record_id"].get<std::string>()
                                        : RecordIdOfBytes(line);
}

// The output of a query, one row a line.
inline std::vector<std::string> RowsOf(const std::string& output) {
    std::vector<std::string> rows;
    std::istringstream all(output);
    for (std::string row; std::getline(all, row);) {
        rows.push_back(row);
    }
    return rows;
}

// A fresh report file's path.
inline std::string NewReportPath() {
    return harness::WriteTempFile("", "x") + ".jsonl";
}

// The last line of --forward-records.
inline std::string ForwardedLine(int forwarded, int had, int left) {
    return "Forwarded " + std::to_string(forwarded) + " records; the database had " +
           std::to_string(had) + " already; " + std::to_string(left) +
           " lines could not be forwarded\n";
}

inline harness::ProcessResult Forward(const std::string& report, const std::string& database) {
    return harness::RunVantoir({"--forward-records", "--report", report, "--report-db", database},
                               60000);
}

// A gang of four ports, each run forwarding its record to database, whose
// boards end one after the other (each board's flash takes stepMs longer
// than the one before); boards gets them.
inline std::unique_ptr<harness::ChildProcess> StartStaggeredGang(
    const std::string& report, const std::string& database, int stepMs,
    std::vector<std::unique_ptr<sim::Board>>& boards) {
    std::string list;
    for (int i = 0; i < 4; ++i) {
        sim::BoardConfig config;
        config.flashProgressLines = 2;
        config.flashIntervalMs = 10 + stepMs * i;
        boards.push_back(harness::StartBoard(config));
        list += (i == 0 ? "" : ",") + harness::PortName(*boards.back());
    }
    harness::ProcessOptions options;
    options.args = {"--gang", list,       "-F",   harness::WriteTempFile(harness::SampleHex(10)),
                    "-W",     "--report", report, "--report-db",
                    database};
    return std::make_unique<harness::ChildProcess>(options);
}

// Tests that start vantoir against a real server: the suite's server,
// started once (only for a build that can reach it).
class FactoryDatabase : public harness::PostgresSuite {
  protected:
    // The ids in the table, sorted; each as often as it is stored.
    static std::vector<std::string> TableIds(const std::string& database) {
        std::vector<std::string> ids =
            RowsOf(server->Query(database, "SELECT record_id FROM vantoir_records"));
        std::sort(ids.begin(), ids.end());
        return ids;
    }

    // The ids of the complete records of the files, sorted.
    static std::vector<std::string> FileIds(const std::vector<std::string>& files) {
        std::vector<std::string> ids;
        for (const std::string& file : files) {
            for (const std::string& line : FileLines(file)) {
                ids.push_back(IdOfLine(line));
            }
        }
        std::sort(ids.begin(), ids.end());
        return ids;
    }
};

}  // namespace factory_test
