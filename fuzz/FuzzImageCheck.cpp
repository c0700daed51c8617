// The image check fed arbitrary files, read with a word size of 1, 2 or 4
// bytes. Checked against what the download sends (model::SentRecords), the
// lines it skips (model::CountSkippedLines) and the simulated board's own
// record check (sim::CheckRecord): the records counted are the records
// sent, the lines skipped those the model skips but for lost records; an
// image found sound has only records the board takes, no lost record,
// exactly one end-of-file record, without data and last, extended address
// records with an address field of 0000, data records of whole words, and
// as many data bytes as its ranges hold words; the ranges are ascending and
// apart; the findings kept are the first ones; the digest is that of the
// whole file after a leading byte-order mark.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/Check.h"
#include "fuzz/Models.h"
#include "fuzz/ScratchFile.h"
#include "sim/HexRecord.h"
#include "text/ImageCheck.h"
#include "text/Sha256.h"
#include "text/UploadFile.h"

namespace {

// A byte of a record line the board takes: 0 the count, 1 and 2 the
// address field, 3 the type.
int ByteOf(const std::string& record, size_t index) {
    return std::stoi(record.substr(1 + 2 * index, 2), nullptr, 16);
}

int TypeOf(const std::string& record) {
    return ByteOf(record, 3);
}

void CheckSoundRecord(const std::string& record, uint32_t wordBytes) {
    FUZZ_CHECK(sim::CheckRecord(record) == sim::RecordStatus::Ok,
               "record refused by the board: " << record);
    const int type = TypeOf(record);
    const int count = ByteOf(record, 0);
    FUZZ_CHECK(type <= 5, "record type of " << record);
    FUZZ_CHECK(type != 1 || count == 0, "an end-of-file record with data: " << record);
    FUZZ_CHECK((type != 2 && type != 4) || (ByteOf(record, 1) == 0 && ByteOf(record, 2) == 0),
               "an extended address record with an address field: " << record);
    FUZZ_CHECK(type != 0 || count % static_cast<int>(wordBytes) == 0,
               "a data record of part words (" << wordBytes << " bytes each): " << record);
}

void CheckSound(const ImageCheckResult& result, const std::vector<std::string>& sent) {
    int ends = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        FUZZ_CHECK(sent[i].size() >= 2 && sent[i].compare(sent[i].size() - 2, 2, "\r\n") == 0,
                   "record " << i << " goes out without CR LF");
        const std::string record = sent[i].substr(0, sent[i].size() - 2);
        CheckSoundRecord(record, result.wordBytes);
        ends += TypeOf(record) == 1;
    }
    FUZZ_CHECK(ends == 1 && TypeOf(sent.back().substr(0, sent.back().size() - 2)) == 1,
               ends << " end-of-file records, or not last");
    uint64_t rangeBytes = 0;
    for (const AddressRange& range : result.ranges) {
        rangeBytes += (uint64_t{range.last} - range.first + 1) * result.wordBytes;
    }
    FUZZ_CHECK(rangeBytes == static_cast<uint64_t>(result.dataBytes) && rangeBytes > 0,
               rangeBytes << " bytes in the ranges, " << result.dataBytes << " data bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    static const std::string path = ScratchPath("image");
    WriteScratch(path, content);
    const size_t kept = size % 4 == 0 ? kKeptImageFindings : size % 4;
    const uint32_t wordBytes = uint32_t{1} << (size / 4 % 3);

    const ImageCheckResult result = CheckImageFile(path.c_str(), kept, wordBytes);

    size_t consumed = 0;
    const std::vector<std::string> sent = model::SentRecords(content, kUploadLineBytes, &consumed);
    FUZZ_CHECK(result.opened, "open");
    FUZZ_CHECK(result.records == static_cast<int64_t>(sent.size()),
               result.records << " records counted, " << sent.size() << " sent");
    const model::SkippedLines unsent = model::CountSkippedLines(content, kUploadLineBytes);
    FUZZ_CHECK(result.skippedLines == unsent.plain,
               result.skippedLines << " lines skipped, the model skips " << unsent.plain);
    FUZZ_CHECK(unsent.lost == 0 || !result.Sound(),
               "sound with " << unsent.lost << " lines that hold a record the download skips");
    const bool marked = content.compare(0, kUtf8ByteOrderMarkBytes, kUtf8ByteOrderMark) == 0;
    const size_t skipped = marked ? kUtf8ByteOrderMarkBytes : 0;
    FUZZ_CHECK(result.sha256 == Sha256Hex(content.data() + skipped, content.size() - skipped), "digest");
    FUZZ_CHECK(result.findings.size() == std::min<size_t>(kept, result.findingCount),
               result.findings.size() << " findings kept of " << result.findingCount);
    const auto lines = static_cast<int64_t>(std::count(content.begin(), content.end(), '\n'));
    for (const ImageFinding& finding : result.findings) {
        FUZZ_CHECK(finding.line >= 0 && finding.line <= lines + 1 && !finding.message.empty(),
                   "finding on line " << finding.line << ": " << finding.message);
    }
    for (size_t i = 1; i < result.ranges.size(); ++i) {
        FUZZ_CHECK(result.ranges[i - 1].first <= result.ranges[i - 1].last &&
                       uint64_t{result.ranges[i - 1].last} + 1 < result.ranges[i].first,
                   "ranges " << i - 1 << " and " << i << " touch or are out of order");
    }
    if (result.Sound()) {
        CheckSound(result, sent);
    }
    return 0;
}
