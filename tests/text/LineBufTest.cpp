#include "text/LineBuf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "AllocSpy.h"

namespace {

// Feeds text byte by byte; returns what each PutChar returned.
std::string Feed(LineBuf& buf, const std::string& text) {
    std::string results;
    for (char c : text) {
        results += static_cast<char>('0' + buf.PutChar(c));
    }
    return results;
}

// Every line that the text completes, each taken as soon as it is reported.
std::vector<std::string> Lines(const std::string& text) {
    LineBuf buf;
    std::vector<std::string> lines;
    for (char c : text) {
        if (buf.PutChar(c) == 1) {
            lines.emplace_back(buf.GetLine());
        }
    }
    return lines;
}

using Strings = std::vector<std::string>;

TEST(LineBufLineEnds, ReportsTheLineAtItsFirstLineEndCharacter) {
    LineBuf buf;
    EXPECT_EQ(Feed(buf, "OK\r"), "001");
    EXPECT_STREQ(buf.GetLine(), "OK");
    EXPECT_EQ(buf.PutChar('\n'), 0);  // second half of the pair
    EXPECT_EQ(Feed(buf, "+1\n"), "001");
    EXPECT_STREQ(buf.GetLine(), "+1");
}

TEST(LineBufLineEnds, PairsCountOnceRepeatsGiveEmptyLines) {
    EXPECT_EQ(Lines("a\r\nb\n\rc\rd\n"), (Strings{"a", "b", "c", "d"}));
    EXPECT_EQ(Lines("a\r\rb\n\n"), (Strings{"a", "", "b", ""}));
    EXPECT_EQ(Lines("a\r\n\r\n"), (Strings{"a", ""}));
    EXPECT_EQ(Lines("a\r\n\n"), (Strings{"a", ""}));
    EXPECT_EQ(Lines("a\n\r\n"), (Strings{"a", ""}));
    EXPECT_EQ(Lines("\r\n\r\n\r\n"), (Strings{"", "", ""}));
}

TEST(LineBufLineEnds, PairSplitAcrossReadsAndTakesCountsOnce) {
    LineBuf buf;
    Feed(buf, "first\r");
    EXPECT_STREQ(buf.GetLine(), "first");
    EXPECT_EQ(Feed(buf, "\nsecond\n"), "00000001");
    EXPECT_STREQ(buf.GetLine(), "second");
    EXPECT_EQ(Feed(buf, "\rthird"), "000000");  // LF CR pair, then unfinished text
    EXPECT_EQ(Feed(buf, "\n"), "1");
    EXPECT_STREQ(buf.GetLine(), "third");
}

TEST(LineBufLineEnds, LastLineKeepsTheLineEndUntilGetLineTrimsIt) {
    LineBuf buf;
    Feed(buf, "+ready\r\n");
    EXPECT_STREQ(buf.LastLine(), "+ready\r");
    EXPECT_EQ(buf.PutChar('x'), 0);  // LastLine took the line
    EXPECT_STREQ(buf.GetLine(), "+ready");
    EXPECT_STREQ(buf.LastLine(), "+ready");
}

TEST(LineBufZeroBytes, AreIgnoredEverywhere) {
    EXPECT_EQ(Lines(std::string("O\0K\r\0\nA\0\0", 9) + std::string("\0\n", 2)),
              (Strings{"OK", "A"}));
    LineBuf buf;
    EXPECT_EQ(buf.PutChar('\0'), 0);
    Feed(buf, "x\n");
    EXPECT_EQ(buf.PutChar('\0'), 1);  // does not clear the waiting line
    EXPECT_EQ(buf.PutChar('\r'), 1);  // still the pair's second half
    EXPECT_STREQ(buf.GetLine(), "x");
}

TEST(LineBufUntakenLine, IsReplacedByTheNextAndStaysReported) {
    LineBuf buf;
    EXPECT_EQ(Feed(buf, "-old\r\nnew"), "000011111");
    EXPECT_EQ(Feed(buf, "\r"), "1");
    EXPECT_STREQ(buf.GetLine(), "new");
    EXPECT_EQ(buf.PutChar('z'), 0);
}

TEST(LineBufPutString, FeedsLikePutCharAndKeepsOnlyTheLastLine) {
    LineBuf buf;
    EXPECT_EQ(buf.PutString(""), 0);
    EXPECT_EQ(buf.PutString(nullptr), 0);
    EXPECT_EQ(buf.PutString("one\r\ntwo\r"), 1);
    EXPECT_STREQ(buf.GetLine(), "two");
    EXPECT_EQ(buf.PutString("\nthr"), 0);
    EXPECT_EQ(buf.PutString("ee\n"), 1);
    EXPECT_STREQ(buf.GetLine(), "three");
    EXPECT_EQ(buf.PutString(""), 0);
}

TEST(LineBufNoLine, GivesTheEmptyTextBeforeTheFirstLineAndAfterReset) {
    LineBuf buf;
    ASSERT_NE(buf.GetLine(), nullptr);
    EXPECT_STREQ(buf.GetLine(), "");
    EXPECT_STREQ(buf.LastLine(), "");
    Feed(buf, "done\r");
    Feed(buf, "half");
    buf.Reset();
    EXPECT_STREQ(buf.LastLine(), "");
    EXPECT_EQ(buf.PutChar('\n'), 1);  // no pending CR after Reset: a line of its own
    EXPECT_STREQ(buf.GetLine(), "");
    EXPECT_EQ(Feed(buf, "ok\n"), "001");
    EXPECT_STREQ(buf.GetLine(), "ok");
}

TEST(LineBufRingSize, GrowsOneStepForALongLineAndShrinksWhenTaken) {
    AllocSpy spy;
    LineBuf buf;
    Feed(buf, std::string(98, 'a') + "\r");
    EXPECT_TRUE(spy.reallocSizes.empty());
    EXPECT_EQ(std::string(buf.GetLine()), std::string(98, 'a'));

    spy.reallocSizes.clear();
    LineBuf fresh;
    Feed(fresh, std::string(99, 'b'));
    EXPECT_TRUE(spy.reallocSizes.empty());
    Feed(fresh, std::string(51, 'b'));
    EXPECT_EQ(spy.reallocSizes, (std::vector<size_t>{200}));
    Feed(fresh, "\r");
    EXPECT_EQ(spy.reallocSizes, (std::vector<size_t>{200, 100}));
    EXPECT_EQ(std::string(fresh.GetLine()), std::string(150, 'b'));
    Feed(fresh, "\nnext\r");
    EXPECT_STREQ(fresh.GetLine(), "next");
}

// A peer that never ends its line: each 64 KiB ends a line, the ring never
// grows past one such line, and it returns to its first size afterwards.
TEST(LineBufRingSize, LineWithoutEndIsCutAt64KiBAndTheRingShrinksBack) {
    AllocSpy spy;
    LineBuf buf;
    const std::string limit(LineBuf::kMaxLineBytes, 'a');
    EXPECT_EQ(Feed(buf, limit), std::string(limit.size(), '0'));
    EXPECT_EQ(buf.PutChar('b'), 1);  // one byte too many ends the line before it
    EXPECT_EQ(std::string(buf.GetLine()), limit);
    EXPECT_EQ(Feed(buf, "c\r\n"), "011");
    EXPECT_STREQ(buf.GetLine(), "bc");

    size_t largest = 0;
    for (size_t size : spy.reallocSizes) {
        largest = std::max(largest, size);
    }
    EXPECT_LE(largest, static_cast<size_t>(LineBuf::kMaxLineBytes + 100));
    spy.reallocSizes.clear();
    Feed(buf, std::string(98, 'd') + "\n");
    EXPECT_TRUE(spy.reallocSizes.empty());  // back to 100 bytes
    buf.GetLine();

    std::string lines;
    for (int i = 0; i < 3 * LineBuf::kMaxLineBytes; ++i) {
        if (buf.PutChar('e') == 1) {
            lines += std::to_string(std::string(buf.GetLine()).size()) + " ";
        }
    }
    EXPECT_EQ(lines, "65536 65536 ");
    EXPECT_EQ(buf.PutChar('\r'), 1);  // a line of exactly 64 KiB ends normally
    EXPECT_EQ(std::string(buf.GetLine()), std::string(LineBuf::kMaxLineBytes, 'e'));
}

// A peer that never ends its line must not walk the heap: once the first cut
// has been made, the ring's storage and the line text are reused as they are,
// with no reallocation at all (a ring that shrank and grew back would move
// past the line text on every cut).
TEST(LineBufRingSize, EndlessLineReusesItsStorageAfterTheFirstCut) {
    AllocSpy spy;
    LineBuf buf;
    for (int i = 0; i <= LineBuf::kMaxLineBytes; ++i) {
        buf.PutChar('f');
    }
    ASSERT_EQ(std::string(buf.GetLine()).size(), static_cast<size_t>(LineBuf::kMaxLineBytes));
    spy.reallocSizes.clear();
    int cuts = 0;
    for (int i = 0; i < 3 * LineBuf::kMaxLineBytes; ++i) {
        if (buf.PutChar('g') == 1) {
            ++cuts;
            EXPECT_EQ(std::string(buf.GetLine()),
                      std::string(1, 'f') + std::string(LineBuf::kMaxLineBytes - 1, 'g'))
                << cuts;
            break;
        }
    }
    for (int i = 0; i < 2 * LineBuf::kMaxLineBytes; ++i) {
        if (buf.PutChar('h') == 1) {
            ++cuts;
            buf.GetLine();
        }
    }
    EXPECT_EQ(cuts, 3);
    EXPECT_TRUE(spy.reallocSizes.empty()) << spy.reallocSizes.size() << " reallocations";
    EXPECT_EQ(spy.LiveBlocks(), 2u);  // the ring and the last line
}

TEST(LineBufRingSize, FixedRingKeepsTheLastBytesOfALongLine) {
    LineBuf buf(10);
    EXPECT_EQ(Feed(buf, "abcdefghijklmnop\r"), std::string(16, '0') + "1");
    EXPECT_STREQ(buf.GetLine(), "ijklmnop");
    Feed(buf, "\nshort\n");
    EXPECT_STREQ(buf.GetLine(), "short");
}

TEST(LineBufAllocationFailure, RingWithoutStorageGivesEmptyLineThenRecovers) {
    AllocSpy spy;
    spy.failAllocate = true;
    LineBuf buf;
    spy.failAllocate = false;
    EXPECT_EQ(Feed(buf, "lost\r"), "00001");
    EXPECT_STREQ(buf.GetLine(), "");
    Feed(buf, "\nkept\r\n");
    EXPECT_STREQ(buf.GetLine(), "kept");
}

TEST(LineBufAllocationFailure, FailedGrowthLosesOnlyThatLine) {
    AllocSpy spy;
    {
        LineBuf buf;
        Feed(buf, std::string(99, 'x'));
        spy.failReallocate = true;
        Feed(buf, "yyyy\r");
        spy.failReallocate = false;
        EXPECT_STREQ(buf.GetLine(), "");
        Feed(buf, "\n+after\n");
        EXPECT_STREQ(buf.GetLine(), "+after");
    }
    EXPECT_EQ(spy.LiveBlocks(), 0u);
}

TEST(LineBufAllocationFailure, FailedShrinkKeepsTheLine) {
    AllocSpy spy;
    LineBuf buf;
    Feed(buf, std::string(150, 'q'));
    spy.failReallocate = true;
    EXPECT_EQ(Feed(buf, "\r"), "1");
    EXPECT_EQ(spy.failedCalls, 1);
    EXPECT_EQ(std::string(buf.GetLine()), std::string(150, 'q'));
}

TEST(LineBufAllocationFailure, FailedLineTextKeepsBytesForTheNextLine) {
    AllocSpy spy;
    {
        LineBuf buf;
        Feed(buf, "first\r\n");
        spy.failAllocate = true;
        EXPECT_EQ(Feed(buf, "ab\r"), "111");  // flag of the untaken first line
        spy.failAllocate = false;
        EXPECT_STREQ(buf.LastLine(), "");
        EXPECT_EQ(Feed(buf, "\ncd\r"), "0001");
        EXPECT_STREQ(buf.LastLine(), "ab\rcd\r");

        spy.failAllocate = true;
        EXPECT_EQ(Feed(buf, "e\n"), "00");  // no line was waiting
        spy.failAllocate = false;
        EXPECT_STREQ(buf.GetLine(), "");
    }
    EXPECT_EQ(spy.LiveBlocks(), 0u);
}

// Reference for the random comparison: splits a whole byte stream at once,
// looking ahead for the second half of each pair. Records, for each line, the
// index of the byte that completed it.
struct ReferenceLine {
    size_t completedAt;
    std::string text;
};

std::vector<ReferenceLine> SplitReference(const std::string& stream) {
    std::vector<size_t> at;  // original index of each non-zero byte
    std::string bytes;
    for (size_t i = 0; i < stream.size(); ++i) {
        if (stream[i] != '\0') {
            at.push_back(i);
            bytes += stream[i];
        }
    }
    std::vector<ReferenceLine> lines;
    std::string current;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n') {
            current += c;
            continue;
        }
        lines.push_back({at[i], current});
        current.clear();
        const char other = c == '\r' ? '\n' : '\r';
        if (i + 1 < bytes.size() && bytes[i + 1] == other) {
            ++i;
        }
    }
    return lines;
}

std::string RandomStream(std::mt19937& random, size_t length) {
    std::string stream;
    while (stream.size() < length) {
        const auto pick = random() % 100;
        if (pick < 12) {
            stream += '\r';
        } else if (pick < 24) {
            stream += '\n';
        } else if (pick < 30) {
            stream += '\0';
        } else if (pick == 30) {
            stream.append(random() % 700, static_cast<char>('a' + random() % 26));
        } else {
            stream += static_cast<char>(random() % 256);
        }
    }
    return stream;
}

TEST(LineBufRandomStream, MatchesAReferenceSplitter) {
    std::mt19937 random(20261208);
    const std::string stream = RandomStream(random, 200000);
    const std::vector<ReferenceLine> expected = SplitReference(stream);
    ASSERT_GT(expected.size(), 10000u);

    LineBuf buf;
    size_t completed = 0;  // reference lines completed so far
    bool waiting = false;
    for (size_t i = 0; i < stream.size(); ++i) {
        const int32_t ready = buf.PutChar(stream[i]);
        if (completed < expected.size() && expected[completed].completedAt == i) {
            ++completed;
            waiting = true;
        }
        ASSERT_EQ(ready, waiting ? 1 : 0) << "byte " << i;
        if (waiting && random() % 4 != 0) {  // now and then leave a line untaken
            ASSERT_EQ(std::string(buf.GetLine()), expected[completed - 1].text) << "byte " << i;
            waiting = false;
        }
    }
    EXPECT_EQ(completed, expected.size());
}

}  // namespace
