// The reading of record files: lines and their places, torn lines, the
// parse of each line, the record's id, and the keys a caller asks for.

#include "app/records/RecordFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/records/RecordId.h"
#include "tests/text/TempFile.h"

namespace {

using testfiles::TempFile;

std::vector<RecordLine> ReadAll(const std::string& path, uint64_t offset = 0,
                                uint64_t firstLine = 1, std::set<std::string> keys = {}) {
    RecordFile file;
    EXPECT_TRUE(file.Open(path, offset, firstLine, std::move(keys))) << file.Error();
    std::vector<RecordLine> lines;
    RecordLine line;
    while (file.Next(line)) {
        lines.push_back(line);
    }
    EXPECT_FALSE(file.Failed()) << file.Error();
    return lines;
}

const char* const kOldRecord = R"({"version":"1.2","mode":"download","outcome":"complete"})";

}  // namespace

TEST(RecordFile, GivesEachLineWithItsPlaceAndWhetherItEnded) {
    const std::string content =
        std::string(kOldRecord) + "\n" + "garbage\r\n" + "\n" + "{\"torn\":";
    TempFile file(content);
    const std::vector<RecordLine> lines = ReadAll(file.Path());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].offset, 0u);
    EXPECT_EQ(lines[0].bytes, kOldRecord);
    EXPECT_EQ(lines[1].offset, std::string(kOldRecord).size() + 1);
    EXPECT_EQ(lines[1].bytes, "garbage");  // CR LF ends a line as LF does
    EXPECT_EQ(lines[2].bytes, "");
    EXPECT_EQ(lines[3].bytes, "{\"torn\":");
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].number, i + 1);
        EXPECT_EQ(lines[i].ended, i < 3) << i;
    }
    EXPECT_EQ(lines[3].offset + lines[3].bytes.size(), content.size());
}

TEST(RecordFile, GoesOnFromTheOffsetWhereAnEarlierReadStopped) {
    TempFile file("{\"a\":1}\n{\"b\":2}\n{\"c\":3}\n");
    RecordFile first;
    ASSERT_TRUE(first.Open(file.Path()));
    RecordLine line;
    ASSERT_TRUE(first.Next(line));
    ASSERT_TRUE(first.Next(line));
    EXPECT_EQ(first.Offset(), 16u);
    const std::vector<RecordLine> rest = ReadAll(file.Path(), first.Offset(), 3);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].bytes, "{\"c\":3}");
    EXPECT_EQ(rest[0].number, 3u);
    EXPECT_EQ(rest[0].offset, 16u);
    EXPECT_TRUE(ReadAll(file.Path(), 24).empty());  // at the end: nothing new
    EXPECT_TRUE(ReadAll(TempFile("").Path()).empty());
}

TEST(RecordFile, SaysWhichLinesAreNoJsonObject) {
    TempFile file(
        "not json\n[1,2]\n{\"a\":1} {\"b\":2}\n{\"record_id\":17}\n"
        "{\"record_id\":\"0b7d6e9c-1d2b-4c9e-8a77\"}\n \n{\"a\":{\"b\":[1,{\"c\":null}]}}\n");
    const std::vector<RecordLine> lines = ReadAll(file.Path());
    ASSERT_EQ(lines.size(), 7u);
    const RecordLineState expected[] = {RecordLineState::NotJson,     RecordLineState::NotObject,
                                        RecordLineState::NotJson,     RecordLineState::BadRecordId,
                                        RecordLineState::BadRecordId, RecordLineState::NotJson,
                                        RecordLineState::Object};
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].state, expected[i]) << lines[i].bytes;
        EXPECT_EQ(lines[i].id.empty(), expected[i] != RecordLineState::Object) << lines[i].bytes;
    }
    EXPECT_EQ(lines[6].value["a"]["b"][1]["c"], nullptr);
    EXPECT_TRUE(lines[0].value.is_null());
}

TEST(RecordFile, NamesARecordByItsRecordIdOrElseByItsBytes) {
    TempFile file(
        std::string("{\"record_id\":\"0B7D6E9C-1D2B-4C9E-8A77-0E3B9D41C2F6\",\"x\":1}\n") +
        kOldRecord + "\n" + kOldRecord + "\r\n" + "{\"record_id\":null,\"y\":2}\n");
    const std::vector<RecordLine> lines = ReadAll(file.Path());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].id, "0b7d6e9c-1d2b-4c9e-8a77-0e3b9d41c2f6");
    // The version 5 UUID of the line's bytes in the records' namespace, as
    // any other implementation of RFC 4122 makes it.
    EXPECT_EQ(lines[1].id, "2070963f-8272-558a-af87-4d8a689190de");
    EXPECT_EQ(lines[2].id, lines[1].id);  // the line end is no part of the line
    EXPECT_EQ(lines[3].id, RecordIdOfBytes("{\"record_id\":null,\"y\":2}"));
}

TEST(RecordFile, KeepsOnlyTheKeysAskedForAndTheRecordId) {
    TempFile file(
        "{\"usb\":{\"outcome\":\"no\",\"id\":[1,{\"mode\":2}]},\"outcome\":\"complete\","
        "\"record_id\":\"0b7d6e9c-1d2b-4c9e-8a77-0e3b9d41c2f6\",\"phases\":[[1],{}],"
        "\"station\":{\"name\":[\"A\"]},\"seconds\":1.5}\n");
    const std::vector<RecordLine> lines =
        ReadAll(file.Path(), 0, 1, {"outcome", "station", "seconds", "mode"});
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].state, RecordLineState::Object);
    EXPECT_EQ(lines[0].value.dump(),
              "{\"outcome\":\"complete\",\"record_id\":\"0b7d6e9c-1d2b-4c9e-8a77-0e3b9d41c2f6\","
              "\"seconds\":1.5,\"station\":{\"name\":[\"A\"]}}");
    // A skipped value is still parsed: a line broken inside one is no JSON.
    TempFile broken("{\"usb\":{\"id\":[1,}]},\"outcome\":\"complete\"}\n");
    EXPECT_EQ(ReadAll(broken.Path(), 0, 1, {"outcome"})[0].state, RecordLineState::NotJson);
}

TEST(RecordFile, ReadsLinesLongerThanItsBlockWholeAndRefusesHugeOnes) {
    const std::string longValue(300 * 1024, 'x');
    const std::string longLine =
        "{\"board_messages\":[\"" + longValue + "\"],\"outcome\":\"timeout\"}";
    const std::string huge(RecordFile::kLongestLine + 10, ' ');
    TempFile file(longLine + "\n" + huge + "\n" + kOldRecord + "\n");
    const std::vector<RecordLine> lines = ReadAll(file.Path());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].bytes, longLine);
    EXPECT_EQ(lines[0].value["outcome"], "timeout");
    EXPECT_EQ(lines[1].state, RecordLineState::TooLong);
    EXPECT_EQ(lines[1].bytes.size(), RecordFile::kLongestLine);
    EXPECT_EQ(lines[2].bytes, kOldRecord);
    EXPECT_EQ(lines[2].offset, longLine.size() + 1 + huge.size() + 1);
}

TEST(RecordFile, ACompleteRecordEndsInALineEndAndHasTheKeysOfEveryRecord) {
    const std::string whole =
        R"({"version":"1.3","started":"2026-12-09T03:52:54.185Z","mode":"download","outcome":"complete","run_id":"r"})";
    TempFile file(whole + "\n" +
                  R"({"version":"1.3","mode":"download","outcome":"complete","run_id":"r"})" +
                  "\n" + whole);
    const std::vector<RecordLine> lines = ReadAll(file.Path());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(IsCompleteRecord(lines[0]));
    EXPECT_FALSE(IsCompleteRecord(lines[1]));  // no started
    EXPECT_FALSE(IsCompleteRecord(lines[2]));  // torn: no line end
}

TEST(RecordFile, AFileThatCannotBeOpenedIsSaidSo) {
    RecordFile file;
    EXPECT_FALSE(file.Open(::testing::TempDir() + "/no_such_records.jsonl"));
    EXPECT_FALSE(file.Error().empty());
}

TEST(RecordId, IsTheVersion5UuidOfRfc4122) {
    // Python's uuid.uuid5(uuid.NAMESPACE_DNS, "python.org").
    EXPECT_EQ(NameBasedUuid("6ba7b810-9dad-11d1-80b4-00c04fd430c8", "python.org", 10),
              "886313e1-3b8a-5372-9b90-0c9aee199e5d");
    EXPECT_EQ(RecordIdOfBytes(""), "c5cebfe3-a84b-5fa6-8c8a-74c70a332713");
    EXPECT_TRUE(IsUuid("0b7d6e9c-1d2b-4c9e-8A77-0e3b9d41c2f6"));
    EXPECT_FALSE(IsUuid("0b7d6e9c-1d2b-4c9e-8a77-0e3b9d41c2f"));
    EXPECT_FALSE(IsUuid("0b7d6e9c-1d2b-4c9e-8a77+0e3b9d41c2f6"));
    EXPECT_FALSE(IsUuid("0b7d6e9c-1d2b-4c9e-8a77-0e3b9d41c2fg"));
}
