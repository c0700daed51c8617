#pragma once
// What the stamp tests share: the record lines a board received, decoded,
// the ledger read back, and a suite's own PostgreSQL server.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/Harness.h"
#include "tests/support/PostgresSuite.h"

namespace stamp_test {

using Json = nlohmann::json;

// The record lines of text (":" lines, without line ends), in order.
inline std::vector<std::string> RecordLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        while (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line[0] == ':') {
            lines.push_back(line);
        }
        start = end + 1;
    }
    return lines;
}

inline int Byte(const std::string& line, size_t at) {
    return std::stoi(line.substr(at, 2), nullptr, 16);
}

// The memory the data records of lines write (extended linear addresses
// applied); every record's checksum must be right.
inline std::map<uint32_t, uint8_t> Memory(const std::vector<std::string>& lines) {
    std::map<uint32_t, uint8_t> memory;
    uint32_t base = 0;
    for (const std::string& line : lines) {
        const int count = Byte(line, 1);
        int sum = 0;
        for (size_t at = 1; at + 1 < line.size(); at += 2) {
            sum += Byte(line, at);
        }
        EXPECT_EQ(sum & 0xFF, 0) << "checksum wrong: " << line;
        const uint32_t offset = static_cast<uint32_t>(Byte(line, 3) << 8 | Byte(line, 5));
        const int type = Byte(line, 7);
        if (type == 4) {
            base = static_cast<uint32_t>(Byte(line, 9) << 8 | Byte(line, 11)) << 16;
        } else if (type == 0) {
            for (int i = 0; i < count; ++i) {
                memory[base + offset + static_cast<uint32_t>(i)] =
                    static_cast<uint8_t>(Byte(line, 9 + 2 * static_cast<size_t>(i)));
            }
        }
    }
    return memory;
}

// The sample image of records (harness::SampleHex: data records from
// address 0, no extended address) with its bytes at first to last set to
// fill (0xFF: erased flash), each record's checksum made right again: a
// blank field to stamp.
inline std::string BlankedHex(const std::string& hex, uint32_t first, uint32_t last,
                              const char* fill = "FF") {
    std::string out;
    for (std::string line : RecordLines(hex)) {
        const int count = Byte(line, 1);
        const uint32_t offset = static_cast<uint32_t>(Byte(line, 3) << 8 | Byte(line, 5));
        int sum = 0;
        for (int i = 0; i < 4 + count; ++i) {
            const size_t at = 1 + 2 * static_cast<size_t>(i);
            const uint32_t address = offset + static_cast<uint32_t>(i - 4);
            if (i >= 4 && Byte(line, 7) == 0 && address >= first && address <= last) {
                line.replace(at, 2, fill);
            }
            sum += Byte(line, at);
        }
        char checksum[3];
        std::snprintf(checksum, sizeof checksum, "%02X", -sum & 0xFF);
        line.replace(line.size() - 2, 2, checksum);
        out += line + "\n";
    }
    return out;
}

// Every line of a ledger file, parsed.
inline std::vector<Json> LedgerLines(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<Json> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(Json::parse(line));
    }
    return lines;
}

// A suite of stamp tests with a PostgreSQL server of its own.
class PostgresLedgerSuite : public harness::PostgresSuite {
  protected:
    // The table's rows as "value state outcome" lines, in order of value.
    static std::string Rows(const std::string& database) {
        return server->Query(database,
                             "SELECT value || ' ' || state || ' ' || coalesce(outcome, '-') "
                             "FROM vantoir_stamp_ledger ORDER BY value_key");
    }
};

}  // namespace stamp_test
