// Lines appended to one file by several writers at once: every line whole,
// none lost. Each writer has its own handle, as separate runs would.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/text/TempFile.h"
#include "text/AppendFile.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Writer w's line n; lengths vary so that a line written over another
// shows as a cut or mixed line, not only as one missing.
std::string LineOf(int writer, int n) {
    return "writer " + std::to_string(writer) + " line " + std::to_string(n) + " " +
           std::string(static_cast<std::size_t>(n % 37), static_cast<char>('a' + writer)) + "\n";
}

}  // namespace

TEST(AppendFile, KeepsWhatTheFileHeldAndAddsAtItsEnd) {
    testfiles::TempFile file("first\n");
    {
        AppendFile out;
        ASSERT_TRUE(out.Open(file.Path().c_str()));
        EXPECT_TRUE(out.Append("second\n"));
    }
    AppendFile again;
    ASSERT_TRUE(again.Open(file.Path().c_str()));
    EXPECT_TRUE(again.Append("third\n"));
    EXPECT_EQ(ReadAll(file.Path()), "first\nsecond\nthird\n");
}

TEST(AppendFile, WritersAtOnceLoseNoLineAndMixNone) {
    testfiles::TempFile file("");
    constexpr int kWriters = 4;
    constexpr int kLines = 400;
    std::vector<std::thread> writers;
    std::vector<int> failures(kWriters, 0);
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&file, &failures, w] {
            AppendFile out;
            if (!out.Open(file.Path().c_str())) {
                failures[static_cast<std::size_t>(w)] = -1;
                return;
            }
            for (int n = 0; n < kLines; ++n) {
                failures[static_cast<std::size_t>(w)] += out.Append(LineOf(w, n)) ? 0 : 1;
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(failures, std::vector<int>(kWriters, 0));

    std::vector<std::string> expected;
    for (int w = 0; w < kWriters; ++w) {
        for (int n = 0; n < kLines; ++n) {
            expected.push_back(LineOf(w, n));
        }
    }
    std::vector<std::string> lines;
    std::istringstream all(ReadAll(file.Path()));
    for (std::string line; std::getline(all, line);) {
        lines.push_back(line + "\n");
    }
    std::sort(expected.begin(), expected.end());
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines.size(), expected.size());
    EXPECT_TRUE(lines == expected) << "a line was lost, cut or mixed with another";
}

TEST(AppendFile, AFileThatCannotBeMadeIsRefusedAndTakesNothing) {
    testfiles::TempFile file("");
    AppendFile out;
    EXPECT_FALSE(out.Open((file.Path() + ".missing/report.jsonl").c_str()));
    EXPECT_FALSE(out.Append("line\n"));
}

TEST(AppendFileRecords, ARecordAfterATornLineStartsALineOfItsOwnAndLeavesTheTornLineAsItIs) {
    testfiles::TempFile torn("{\"whole\":1}\n{\"cut\":");
    testfiles::TempFile whole("{\"whole\":1}\n");
    testfiles::TempFile empty("");
    for (const testfiles::TempFile* file : {&torn, &whole, &empty}) {
        AppendFile out;
        ASSERT_TRUE(out.Open(file->Path().c_str()));
        EXPECT_TRUE(out.AppendRecord("{\"record\":2}\n"));
        EXPECT_TRUE(out.AppendRecord("{\"record\":3}\n"));
    }
    EXPECT_EQ(ReadAll(torn.Path()), "{\"whole\":1}\n{\"cut\":\n{\"record\":2}\n{\"record\":3}\n");
    EXPECT_EQ(ReadAll(whole.Path()), "{\"whole\":1}\n{\"record\":2}\n{\"record\":3}\n");
    EXPECT_EQ(ReadAll(empty.Path()), "{\"record\":2}\n{\"record\":3}\n");
}

TEST(AppendFileRecords, WritersAtOnceCompleteATornLineOnceAndLoseNoRecord) {
    testfiles::TempFile file("first\ntorn");
    constexpr int kWriters = 4;
    constexpr int kLines = 100;
    std::vector<std::thread> writers;
    std::vector<int> failures(kWriters, 0);
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&file, &failures, w] {
            AppendFile out;
            if (!out.Open(file.Path().c_str())) {
                failures[static_cast<std::size_t>(w)] = -1;
                return;
            }
            for (int n = 0; n < kLines; ++n) {
                failures[static_cast<std::size_t>(w)] += out.AppendRecord(LineOf(w, n)) ? 0 : 1;
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(failures, std::vector<int>(kWriters, 0));
    std::vector<std::string> expected = {"first\n", "torn\n"};
    for (int w = 0; w < kWriters; ++w) {
        for (int n = 0; n < kLines; ++n) {
            expected.push_back(LineOf(w, n));
        }
    }
    std::vector<std::string> lines;
    std::istringstream all(ReadAll(file.Path()));
    for (std::string line; std::getline(all, line);) {
        lines.push_back(line + "\n");
    }
    EXPECT_EQ(lines[0], "first\n");
    EXPECT_EQ(lines[1], "torn\n");
    std::sort(expected.begin(), expected.end());
    std::sort(lines.begin(), lines.end());
    EXPECT_TRUE(lines == expected) << "a line end added twice, or a record lost, cut or mixed";
}
