#pragma once
// The records of a --report file, read back with the same JSON library the
// program writes them with.

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace report_test {

using Json = nlohmann::json;

// Every line of the file, each parsed as one record.
inline std::vector<Json> ReadRecords(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<Json> records;
    std::string line;
    while (std::getline(file, line)) {
        records.push_back(Json::parse(line));
    }
    return records;
}

// The one record of a file written by one run.
inline Json OnlyRecord(const std::string& path) {
    const std::vector<Json> records = ReadRecords(path);
    EXPECT_EQ(records.size(), 1u) << path;
    return records.empty() ? Json() : records.front();
}

}  // namespace report_test
