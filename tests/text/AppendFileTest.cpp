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

// kWriters writers at once, each with its own handle, append kLines lines
// each (as records when records is true); the failures of each.
constexpr int kWriters = 4;
std::vector<int> AppendAtOnce(const std::string& path, int lines, bool records) {
    std::vector<std::thread> writers;
    std::vector<int> failures(kWriters, 0);
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&path, &failures, lines, records, w] {
            AppendFile out;
            int& failed = failures[static_cast<std::size_t>(w)];
            if (!out.Open(path.c_str())) {
                failed = -1;
                return;
            }
            for (int n = 0; n < lines; ++n) {
                failed +=
                    (records ? out.AppendRecord(LineOf(w, n)) : out.Append(LineOf(w, n))) ? 0 : 1;
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    return failures;
}

// The lines of the file after the first skip (with their line ends),
// sorted; against every writer's lines, sorted.
void ExpectEveryLineWhole(const std::string& path, size_t skip, int lines) {
    std::vector<std::string> expected;
    for (int w = 0; w < kWriters; ++w) {
        for (int n = 0; n < lines; ++n) {
            expected.push_back(LineOf(w, n));
        }
    }
    std::vector<std::string> got;
    std::istringstream all(ReadAll(path));
    for (std::string line; std::getline(all, line);) {
        got.push_back(line + "\n");
    }
    got.erase(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(std::min(skip, got.size())));
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "a line end added twice, or a line lost, cut or mixed";
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
    EXPECT_EQ(AppendAtOnce(file.Path(), 400, false), std::vector<int>(kWriters, 0));
    ExpectEveryLineWhole(file.Path(), 0, 400);
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
    EXPECT_EQ(AppendAtOnce(file.Path(), 100, true), std::vector<int>(kWriters, 0));
    EXPECT_EQ(ReadAll(file.Path()).rfind("first\ntorn\n", 0), 0u);
    ExpectEveryLineWhole(file.Path(), 2, 100);
}
