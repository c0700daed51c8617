// The record file as the store of what waits for the database: read from a
// mark on, a torn last line left for later, and the mark beside the file
// trusted only while the file still holds what it marked.

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <string>

#include "app/factory/ForwardMark.h"
#include "app/factory/RecordSpool.h"
#include "tests/text/TempFile.h"

namespace {

const std::string kRecord =
    R"({"version":"1.3","started":"2026-12-01T08:00:00.000Z","mode":"download",)"
    R"("outcome":"complete","run_id":"r","record_id":"6f1c2a3e-1d2b-4c9e-8a77-0e3b9d41c2f6"})";

SpoolChunk Read(const std::string& path, const ForwardMark& from, size_t maxBytes = SIZE_MAX) {
    SpoolChunk chunk;
    std::string why;
    EXPECT_TRUE(ReadSpool(path, from, maxBytes, chunk, why)) << why;
    return chunk;
}

void Append(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

}  // namespace

TEST(RecordSpool, CompleteLinesAreTakenWithTheirNumbersAndATornLastLineIsLeft) {
    testfiles::TempFile file(kRecord + "\n\n" + "not json\n" + kRecord + "\r\n" + "{\"torn\":");
    const SpoolChunk chunk = Read(file.Path(), ForwardMark());
    ASSERT_EQ(chunk.lines.size(), 3u);
    EXPECT_TRUE(chunk.lines[0].record);
    EXPECT_EQ(chunk.lines[0].id, "6f1c2a3e-1d2b-4c9e-8a77-0e3b9d41c2f6");
    EXPECT_EQ(chunk.lines[1].number, 3);
    EXPECT_FALSE(chunk.lines[1].record);
    EXPECT_EQ(chunk.lines[1].problem, "not JSON");
    EXPECT_EQ(chunk.lines[2].number, 4);
    EXPECT_EQ(chunk.lines[2].text, kRecord);
    // The mark stops before the torn line, which a later read takes once
    // it is complete.
    EXPECT_EQ(chunk.end.line, 4);
    EXPECT_EQ(chunk.end.offset, static_cast<int64_t>(2 * kRecord.size() + 2 + 9 + 2));
    Append(file.Path(), "\n" + kRecord + "\n");
    const SpoolChunk later = Read(file.Path(), chunk.end);
    ASSERT_EQ(later.lines.size(), 2u);
    EXPECT_EQ(later.lines[0].number, 5);
    EXPECT_EQ(later.lines[0].problem, "not JSON");
    EXPECT_EQ(later.lines[1].number, 6);
    EXPECT_TRUE(later.lines[1].record);
}

TEST(RecordSpool, AChunkEndsAfterAboutItsBytesAndTheNextGoesOnFromIt) {
    std::string content;
    for (int i = 0; i < 10; ++i) {
        content += kRecord + "\n";
    }
    testfiles::TempFile file(content);
    SpoolChunk chunk = Read(file.Path(), ForwardMark(), 3 * (kRecord.size() + 1));
    EXPECT_EQ(chunk.lines.size(), 3u);
    EXPECT_FALSE(chunk.atEnd);
    chunk = Read(file.Path(), chunk.end);
    EXPECT_EQ(chunk.lines.size(), 7u);
    EXPECT_EQ(chunk.lines.back().number, 10);
    EXPECT_TRUE(chunk.atEnd);
}

TEST(ForwardMark, HoldsOnlyWhileTheFileStillHoldsWhatItMarked) {
    testfiles::TempFile file(kRecord + "\n" + kRecord + "\n");
    const ForwardMark mark = Read(file.Path(), ForwardMark()).end;
    std::string why;
    ASSERT_TRUE(WriteForwardMark(file.Path(), mark, why)) << why;
    EXPECT_EQ(ReadForwardMark(file.Path()).offset, mark.offset);
    EXPECT_EQ(ReadForwardMark(file.Path()).line, 2);
    // Grown: the mark holds.
    Append(file.Path(), kRecord + "\n");
    EXPECT_EQ(ReadForwardMark(file.Path()).offset, mark.offset);

    // Rotated (another file of the same length or longer), truncated, or
    // a mark that does not parse: from the start.
    std::ofstream(file.Path(), std::ios::binary | std::ios::trunc)
        << std::string(kRecord.size() * 3, 'x') << "\n";
    EXPECT_EQ(ReadForwardMark(file.Path()).offset, 0);
    std::ofstream(file.Path(), std::ios::binary | std::ios::trunc) << kRecord << "\n";
    EXPECT_EQ(ReadForwardMark(file.Path()).offset, 0);
    std::ofstream(file.Path(), std::ios::binary | std::ios::trunc)
        << kRecord + "\n" + kRecord + "\n";
    EXPECT_EQ(ReadForwardMark(file.Path()).offset, mark.offset);
    std::ofstream(ForwardMarkPath(file.Path()), std::ios::binary | std::ios::trunc) << "{\"offs";
    EXPECT_EQ(ReadForwardMark(file.Path()).offset, 0);
    std::remove(ForwardMarkPath(file.Path()).c_str());
    EXPECT_EQ(ReadForwardMark(file.Path()).offset, 0);
}
