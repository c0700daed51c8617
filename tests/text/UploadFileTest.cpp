#include "text/UploadFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "tests/text/TempFile.h"

namespace {

namespace fs = std::filesystem;
using testfiles::TempFile;

// Each line read, with the position after it.
using Reads = std::vector<std::pair<std::string, int64_t>>;

// Every line of the file with the position after it, up to the end of data.
Reads ReadAll(const std::string& bytes, size_t capacity = kUploadLineBytes,
              size_t blockBytes = UploadFile::kBlockBytes) {
    TempFile temp(bytes);
    UploadFile file(blockBytes);
    EXPECT_TRUE(file.Open(temp.Path().c_str()));
    std::vector<char> buffer(capacity + 2);
    Reads reads;
    while (size_t length = file.ReadLine(buffer.data(), capacity)) {
        EXPECT_EQ(buffer[length], '\0');
        reads.push_back({std::string(buffer.data(), length), file.Position()});
    }
    EXPECT_EQ(file.ReadLine(buffer.data(), capacity), 0u) << "end of data must last";
    return reads;
}

TEST(UploadFileLineEnds, CrLfBecomesLfAndItsCrCountsAsConsumed) {
    EXPECT_EQ(ReadAll(":00\r\n:01\r\n"), (Reads{{":00\n", 5}, {":01\n", 10}}));
    EXPECT_EQ(ReadAll(":00\n\n:01\n"), (Reads{{":00\n", 4}, {"\n", 5}, {":01\n", 9}}));
}

TEST(UploadFileLineEnds, CrIsDroppedAndTheByteAfterItTakenAsItIs) {
    EXPECT_EQ(ReadAll("a\r\rb\n"), (Reads{{"a\rb\n", 5}}));
    EXPECT_EQ(ReadAll("x\ry\n"), (Reads{{"xy\n", 4}}));
    EXPECT_EQ(ReadAll("a\r\r\n"), (Reads{{"a\r\n", 4}}));
    EXPECT_EQ(ReadAll("a\r\x1a"
                      "b\n"),
              (Reads{{"a\x1a"
                      "b\n",
                      5}}));
    EXPECT_EQ(ReadAll("\r\r\r\r\n"), (Reads{{"\r\r\n", 5}}));
}

TEST(UploadFileLineEnds, LastLineWithoutLineFeedOrEndingInCr) {
    EXPECT_EQ(ReadAll(":00\n:01"), (Reads{{":00\n", 4}, {":01", 7}}));
    EXPECT_EQ(ReadAll(":01\r"), (Reads{{":01", 4}}));
    EXPECT_EQ(ReadAll("\r"), Reads{});
    EXPECT_EQ(ReadAll(":01\n\r"), (Reads{{":01\n", 4}}));
}

TEST(UploadFileEndOfFileMark, EndsTheDataAtTheStartOfARead) {
    EXPECT_EQ(ReadAll("\x1a:00\n"), Reads{});
    EXPECT_EQ(ReadAll(":00\n\x1a:01\n"), (Reads{{":00\n", 4}}));
    EXPECT_EQ(ReadAll(":00\r\n\x1a"), (Reads{{":00\n", 5}}));

    TempFile temp(":00\n\x1a:01\n");
    UploadFile file;
    ASSERT_TRUE(file.Open(temp.Path().c_str()));
    char buffer[16];
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 4u);
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(file.Position(), 5);  // the mark is consumed
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 0u);
    EXPECT_EQ(file.Position(), 5);
}

TEST(UploadFileEndOfFileMark, EndsALineWithCharactersAndReadingGoesOn) {
    EXPECT_EQ(ReadAll(":01\x1a:02\n"), (Reads{{":01", 4}, {":02\n", 8}}));
    EXPECT_EQ(ReadAll(":01\x1a\x1a:02\n"), (Reads{{":01", 4}}));
    EXPECT_EQ(ReadAll(":01\x1a"), (Reads{{":01", 4}}));
}

TEST(UploadFileLongLines, AreReadInPiecesOfCapacityLessOne) {
    const std::string c9997(9997, 'A');
    EXPECT_EQ(ReadAll(c9997 + "\n"), (Reads{{c9997 + "\n", 9998}}));
    EXPECT_EQ(ReadAll(c9997 + "B\n"), (Reads{{c9997 + "B\n", 9999}}));
    EXPECT_EQ(ReadAll(c9997 + "BC\n"), (Reads{{c9997 + "BC", 9999}, {"\n", 10000}}));

    const std::string big(25000, ':');
    EXPECT_EQ(ReadAll(big + "\r\n"), (Reads{{big.substr(0, 9999), 9999},
                                            {big.substr(0, 9999), 19998},
                                            {big.substr(0, 5002) + "\n", 25002}}));
    // A full piece stops before a CR; the next read drops it.
    const std::string c9999(9999, '7');
    EXPECT_EQ(ReadAll(c9999 + "\r\n:0\n"), (Reads{{c9999, 9999}, {"\n", 10001}, {":0\n", 10004}}));
}

TEST(UploadFileLongLines, SmallCapacitiesAreHonoured) {
    EXPECT_EQ(ReadAll("ab\r\nc", 2), (Reads{{"a", 1}, {"b", 2}, {"\n", 4}, {"c", 5}}));
    EXPECT_EQ(ReadAll("abcd\n", 3), (Reads{{"ab", 2}, {"cd", 4}, {"\n", 5}}));

    TempFile temp("abc\n");
    UploadFile file;
    ASSERT_TRUE(file.Open(temp.Path().c_str()));
    char buffer[2] = {'x', 'x'};
    EXPECT_EQ(file.ReadLine(buffer, 1), 0u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(file.ReadLine(buffer, 0), 0u);
    EXPECT_EQ(file.Position(), 0);
    EXPECT_EQ(file.ReadLine(buffer, 2), 1u);  // nothing was consumed above
    EXPECT_STREQ(buffer, "a");
}

TEST(UploadFileContent, BlankCommentAndOddBytesArePassedOn) {
    const std::string withZero("\x00:\xff\n", 4);
    EXPECT_EQ(ReadAll("; header\n\n :00\n" + withZero),
              (Reads{{"; header\n", 9}, {"\n", 10}, {" :00\n", 15}, {withZero, 19}}));
    EXPECT_EQ(ReadAll(""), Reads{});
}

TEST(UploadFileOpening, SizeIsMeasuredOnceAndReadingDoesNotMoveIt) {
    TempFile temp(":00\r\n:01\r\n:02");
    UploadFile file;
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Size(), 0);
    ASSERT_TRUE(file.Open(temp.Path().c_str()));
    EXPECT_TRUE(file.IsOpen());
    EXPECT_EQ(file.Size(), 13);
    char buffer[kUploadLineBytes];
    ASSERT_EQ(file.ReadLine(buffer, sizeof buffer), 4u);
    EXPECT_EQ(file.Size(), 13);
    EXPECT_EQ(file.Position(), 5);
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 4u);
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 3u);
    EXPECT_EQ(file.Position(), file.Size());
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 0u);
    EXPECT_FALSE(file.ReadFailed());  // the file's end is no failure

    ASSERT_TRUE(file.Open(temp.Path().c_str()));  // again, from the start
    EXPECT_EQ(file.Position(), 0);
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 4u);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 0u);
}

TEST(UploadFileOpening, SizeBeyondFourGibibytesIsExact) {
    TempFile temp("");
    std::error_code error;
    const uintmax_t huge = 5'000'000'123ull;
    fs::resize_file(temp.Path(), huge, error);  // sparse where the file system allows
    if (error) {
        GTEST_SKIP() << "cannot make a large file here: " << error.message();
    }
    UploadFile file;
    ASSERT_TRUE(file.Open(temp.Path().c_str()));
    EXPECT_EQ(file.Size(), static_cast<int64_t>(huge));
    char buffer[kUploadLineBytes];
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 9999u);
    EXPECT_EQ(file.Position(), 9999);
    file.Close();
    fs::resize_file(temp.Path(), 0, error);
}

TEST(UploadFileOpening, MissingFileAndDirectoryAreRefused) {
    UploadFile file;
    const std::string missing = (fs::path(::testing::TempDir()) / "no_such_upload.hex").string();
    EXPECT_FALSE(file.Open(missing.c_str()));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Open(::testing::TempDir().c_str()));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Open(nullptr));
    char buffer[8] = "x";
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 0u);
    EXPECT_EQ(file.Position(), 0);
}

TEST(UploadFileOpening, ReadFailureEndsTheData) {
    // Reading a process's own memory at offset 0 fails; not every system has it.
    const char* unreadable = "/proc/self/mem";
    std::error_code error;
    if (!fs::exists(unreadable, error)) {
        GTEST_SKIP() << "no file that fails to read";
    }
    UploadFile file;
    ASSERT_TRUE(file.Open(unreadable));
    char buffer[64];
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 0u);
    EXPECT_TRUE(file.ReadFailed());
    EXPECT_EQ(file.ReadLine(buffer, sizeof buffer), 0u);
    EXPECT_TRUE(file.ReadFailed());
    file.Close();
    EXPECT_FALSE(file.ReadFailed());
}

// Byte-by-byte reference reader over the whole file held in memory.
Reads ReferenceRead(const std::string& bytes, size_t capacity) {
    Reads reads;
    size_t at = 0;
    for (;;) {
        std::string line;
        while (line.size() < capacity - 1 && at < bytes.size()) {
            char c = bytes[at++];
            if (c == '\x1a') {
                break;
            }
            if (c == '\r') {
                if (at == bytes.size()) {
                    break;
                }
                c = bytes[at++];
            }
            line += c;
            if (c == '\n') {
                break;
            }
        }
        if (line.empty()) {
            return reads;
        }
        reads.push_back({line, static_cast<int64_t>(at)});
    }
}

std::string RandomFileBytes(std::mt19937& random, size_t length) {
    static const char kBiased[] = {'\r', '\n', '\r', '\n', ':', '\x1a', '\0', '0', 'F'};
    std::string bytes;
    for (size_t i = 0; i < length; ++i) {
        const auto pick = random() % 40;
        bytes += pick < sizeof kBiased ? kBiased[pick] : static_cast<char>(random() % 256);
    }
    // Keep most files going past their first mark.
    if (random() % 4 != 0) {
        for (char& c : bytes) {
            c = c == '\x1a' && random() % 8 != 0 ? 'x' : c;
        }
    }
    return bytes;
}

TEST(UploadFileRandomContent, MatchesAByteByByteReaderAcrossBlockBoundaries) {
    std::mt19937 random(5);
    const size_t blockSizes[] = {1, 2, 3, 5, 16, 64, 4096, UploadFile::kBlockBytes};
    const size_t capacities[] = {2, 3, 7, 64, kUploadLineBytes};
    for (int round = 0; round < 300; ++round) {
        const std::string bytes = RandomFileBytes(random, random() % 3000);
        const size_t block = blockSizes[random() % std::size(blockSizes)];
        const size_t capacity = capacities[random() % std::size(capacities)];
        ASSERT_EQ(ReadAll(bytes, capacity, block), ReferenceRead(bytes, capacity))
            << "round " << round << " block " << block << " capacity " << capacity;
    }
}

TEST(UploadFileBlockObserver, SeesEveryByteOnceUntranslatedAlsoAfterTheEndOfTheData) {
    std::mt19937 random(11);
    for (const size_t block : {size_t{1}, size_t{7}, size_t{4096}, UploadFile::kBlockBytes}) {
        const std::string bytes = RandomFileBytes(random, 5000) + "\x1A" + "after\r\r\n";
        TempFile temp(bytes);
        UploadFile file(block);
        ASSERT_TRUE(file.Open(temp.Path().c_str()));
        std::string seen;
        file.ObserveBlocks([&seen](const uint8_t* data, size_t count) {
            seen.append(reinterpret_cast<const char*>(data), count);
        });
        char line[kUploadLineBytes];
        while (file.ReadLine(line, sizeof line) != 0) {
        }
        EXPECT_TRUE(file.ReadRest());
        EXPECT_EQ(seen, bytes) << "block " << block;
        EXPECT_TRUE(file.ReadRest()) << "a second time reads nothing more";
        EXPECT_EQ(seen, bytes) << "block " << block;
    }
}

TEST(UploadFileByteOrderMark, AMarkAtTheVeryStartIsNoPartOfTheDataWhateverTheReads) {
    const std::string marked = std::string(kUtf8ByteOrderMark) + ":00\n:01\n";
    for (const size_t block : {size_t{1}, size_t{2}, size_t{7}, UploadFile::kBlockBytes}) {
        EXPECT_EQ(ReadAll(marked, kUploadLineBytes, block), (Reads{{":00\n", 7}, {":01\n", 11}}))
            << "block " << block;
        TempFile temp(marked);
        UploadFile file(block);
        ASSERT_TRUE(file.Open(temp.Path().c_str()));
        EXPECT_EQ(file.Size(), 11) << "the file's length, for the percentage";
        std::string seen;
        file.ObserveBlocks([&seen](const uint8_t* data, size_t count) {
            seen.append(reinterpret_cast<const char*>(data), count);
        });
        EXPECT_TRUE(file.ReadRest());
        EXPECT_EQ(seen, ":00\n:01\n") << "block " << block;
    }
    EXPECT_EQ(ReadAll(kUtf8ByteOrderMark), Reads{});
}

TEST(UploadFileByteOrderMark, AMarkElsewhereOrCutShortIsData) {
    EXPECT_EQ(ReadAll(":00\n\xEF\xBB\xBF:01\n"), (Reads{{":00\n", 4}, {"\xEF\xBB\xBF:01\n", 11}}));
    EXPECT_EQ(ReadAll("\xEF\xBB:00\n", kUploadLineBytes, 1), (Reads{{"\xEF\xBB:00\n", 6}}));
    EXPECT_EQ(ReadAll("\xEF\xBB"), (Reads{{"\xEF\xBB", 2}}));
}

// PrepareRecordLine over a copy with room for growth; returns the result.
std::string Prepare(const std::string& line) {
    std::vector<char> buffer(line.begin(), line.end());
    buffer.resize(line.size() + 3, '#');
    const size_t length = PrepareRecordLine(buffer.data(), line.size());
    EXPECT_EQ(buffer[length], '\0');
    return std::string(buffer.data(), length);
}

TEST(RecordLinePreparation, LineFeedBecomesCrLfOnlyWithinTheLimit) {
    EXPECT_EQ(Prepare("\n"), "\r\n");
    EXPECT_EQ(Prepare(":00000001FF\n"), ":00000001FF\r\n");
    const std::string c9997(9997, 'A');
    EXPECT_EQ(Prepare(c9997 + "\n"), c9997 + "\r\n");
    EXPECT_EQ(Prepare(c9997 + "B\n"), c9997 + "B\n");
}

TEST(RecordLinePreparation, ALastLineWithoutLineFeedGetsCrLf) {
    EXPECT_EQ(Prepare(":00"), ":00\r\n");
    const std::string c9998(9998, 'A');  // the longest a read ends without LF
    EXPECT_EQ(Prepare(c9998), c9998 + "\r\n");
}

TEST(RecordLinePreparation, OtherLinesStayAsRead) {
    EXPECT_EQ(Prepare(":00\r\n"), ":00\r\n");
    EXPECT_EQ(Prepare("\r\n"), "\r\n");
    EXPECT_EQ(Prepare(""), "");
    // A full read without LF is a piece of an over-long line.
    EXPECT_EQ(Prepare(std::string(9999, ':')), std::string(9999, ':'));
}

}  // namespace
