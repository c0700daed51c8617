// A file of lines shared by several writers, each in turn: what was there
// stays, appends land at the end, and writers holding the lock in turn never
// see a half-done turn of another.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/text/TempFile.h"
#include "text/LockedLog.h"

TEST(LockedLog, ReadsWhatIsThereAppendsAtTheEndAndCuts) {
    testfiles::TempFile file("one\ntwo\nunfini");
    LockedLog log;
    ASSERT_TRUE(log.Open(file.Path().c_str())) << log.Error();
    ASSERT_TRUE(log.Lock()) << log.Error();
    std::string content;
    ASSERT_TRUE(log.ReadAll(content));
    EXPECT_EQ(content, "one\ntwo\nunfini");
    ASSERT_TRUE(log.CutTo(8));
    ASSERT_TRUE(log.Append("three\n"));
    ASSERT_TRUE(log.ReadAll(content));
    EXPECT_EQ(content, "one\ntwo\nthree\n");
    log.Unlock();
}

TEST(LockedLog, CreatesAMissingFileAndSaysWhyOneCannotBeOpened) {
    testfiles::TempFile file("");
    const std::string fresh = file.Path() + ".new";
    {
        LockedLog log;
        ASSERT_TRUE(log.Open(fresh.c_str()));
        ASSERT_TRUE(log.Lock());
        std::string content = "x";
        ASSERT_TRUE(log.ReadAll(content));
        EXPECT_EQ(content, "");
    }
    std::remove(fresh.c_str());
    LockedLog missingFolder;
    EXPECT_FALSE(missingFolder.Open((file.Path() + ".d/none/ledger").c_str()));
    EXPECT_NE(missingFolder.Error().find("cannot open"), std::string::npos);
}

// Each writer reads the last number and appends the next one under the lock:
// with the turns kept, the numbers run 1..N without a gap or a repeat.
TEST(LockedLog, WritersInTurnNeverTakeTheSameNumber) {
    testfiles::TempFile file("");
    constexpr int kWriters = 4;
    constexpr int kTurns = 50;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&file] {
            LockedLog log;
            ASSERT_TRUE(log.Open(file.Path().c_str()));
            for (int turn = 0; turn < kTurns; ++turn) {
                ASSERT_TRUE(log.Lock());
                std::string content;
                ASSERT_TRUE(log.ReadAll(content));
                const size_t lines = static_cast<size_t>(std::count(content.begin(), content.end(), '\n'));
                ASSERT_TRUE(log.Append(std::to_string(lines + 1) + "\n"));
                log.Unlock();
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    LockedLog log;
    ASSERT_TRUE(log.Open(file.Path().c_str()));
    std::string content;
    ASSERT_TRUE(log.ReadAll(content));
    std::string expected;
    for (int n = 1; n <= kWriters * kTurns; ++n) {
        expected += std::to_string(n) + "\n";
    }
    EXPECT_EQ(content, expected);
}
