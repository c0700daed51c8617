// The digest of the record lines sent: every line as given, the last ones
// taken back as a drop says, however far back the lines have been hashed.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/report/SentDigest.h"
#include "text/Sha256.h"

namespace {

std::vector<std::string> Lines(int count) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        // Lengths vary, so that a wrong cut shows.
        lines.push_back(":" + std::string(static_cast<size_t>(2 + i % 7), 'A') + std::to_string(i) +
                        "\r\n");
    }
    return lines;
}

std::string DigestOfFirst(const std::vector<std::string>& lines, size_t count) {
    std::string all;
    for (size_t i = 0; i < count; ++i) {
        all += lines[i];
    }
    return Sha256Hex(all.data(), all.size());
}

// A small hold, so that most lines are hashed long before the end.
TEST(SentDigest, TakingBackTheLastLinesGivesTheDigestOfThoseLeftWhereverTheHoldEnds) {
    const std::vector<std::string> lines = Lines(400);
    for (const size_t keep : {400u, 399u, 390u, 385u, 380u}) {
        SentDigest digest(256);
        for (const std::string& line : lines) {
            digest.Add(line.data(), line.size());
        }
        digest.KeepFirst(static_cast<int64_t>(keep));
        EXPECT_EQ(digest.Lines(), static_cast<int64_t>(keep));
        EXPECT_EQ(digest.HexDigest(), DigestOfFirst(lines, keep)) << keep;
    }
}

// Lines whose later lines make more than the hold may have been hashed: a
// withdrawal that reaches them leaves the digest unknown, never wrong.
TEST(SentDigest, AWithdrawalPastTheHoldIsUnknownAndNoLineIsNone) {
    const std::vector<std::string> lines = Lines(400);
    SentDigest far(64);
    for (const std::string& line : lines) {
        far.Add(line.data(), line.size());
    }
    far.KeepFirst(10);
    EXPECT_EQ(far.HexDigest(), "");
    SentDigest none(64);
    EXPECT_EQ(none.HexDigest(), "");
    SentDigest all(64);
    all.Add(lines[0].data(), lines[0].size());
    all.KeepFirst(0);
    EXPECT_EQ(all.HexDigest(), "");
}

}  // namespace
