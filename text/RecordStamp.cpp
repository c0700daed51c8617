#include "text/RecordStamp.h"

#include <array>
#include <stdexcept>

namespace {

constexpr uint8_t kDataRecord = 0x00;
constexpr uint8_t kExtendedSegmentRecord = 0x02;
constexpr uint8_t kExtendedLinearRecord = 0x04;
constexpr uint64_t kSegmentBytes = 0x10000;
constexpr char kUpperDigits[] = "0123456789ABCDEF";

struct HexTable {
    std::array<int8_t, 256> value{};
    constexpr HexTable() {
        for (auto& entry : value) {
            entry = -1;
        }
        for (int i = 0; i < 10; ++i) {
            value['0' + i] = static_cast<int8_t>(i);
        }
        for (int i = 0; i < 6; ++i) {
            value['a' + i] = static_cast<int8_t>(10 + i);
            value['A' + i] = static_cast<int8_t>(10 + i);
        }
    }
};
constexpr HexTable kHex;

// The byte of the two hex digits at text, or -1.
int ByteAt(const char* text) {
    const int high = kHex.value[static_cast<unsigned char>(text[0])];
    const int low = kHex.value[static_cast<unsigned char>(text[1])];
    return high < 0 || low < 0 ? -1 : high << 4 | low;
}

void PutByte(char* text, uint8_t byte) {
    text[0] = kUpperDigits[byte >> 4];
    text[1] = kUpperDigits[byte & 0x0F];
}

size_t WithoutLineEnd(const char* line, size_t length) {
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) {
        --length;
    }
    return length;
}

}  // namespace

RecordStamp::RecordStamp(const StampSpec& fieldSpec) : spec(fieldSpec) {}

void RecordStamp::Arm(const std::vector<uint8_t>& fieldBytes) {
    field = fieldBytes;
    armed = true;
    Restart();
}

void RecordStamp::Disarm() {
    armed = false;
    Restart();
}

void RecordStamp::Restart() {
    base = 0;
    segmented = false;
}

// A record is ':' and an even number of hex digits: count, address, type,
// count data bytes, checksum; nothing else before the line end. Only the
// frame is read here; Whole reads the rest, for the few records that matter.
bool RecordStamp::Parse(const char* line, size_t length, Record& record) const {
    length = WithoutLineEnd(line, length);
    if (length < 11 || line[0] != ':') {
        return false;
    }
    const int count = ByteAt(line + 1);
    const int high = ByteAt(line + 3);
    const int low = ByteAt(line + 5);
    const int type = ByteAt(line + 7);
    if (count < 0 || high < 0 || low < 0 || type < 0 ||
        length != 11 + 2 * static_cast<size_t>(count)) {
        return false;
    }
    record.count = static_cast<uint8_t>(count);
    record.offset = static_cast<uint16_t>(high << 8 | low);
    record.type = static_cast<uint8_t>(type);
    record.dataAt = 9;
    return true;
}

// Every digit of the record is a hex digit; notes whether its checksum is
// right.
bool RecordStamp::Whole(const char* line, Record& record) const {
    const size_t end = record.dataAt + 2 * record.count + 2;
    int sum = 0;
    for (size_t at = 1; at < end; at += 2) {
        const int byte = ByteAt(line + at);
        if (byte < 0) {
            return false;
        }
        sum += byte;
    }
    record.checksumRight = (sum & 0xFF) == 0;
    return true;
}

long RecordStamp::FieldIndex(const Record& record, size_t i) const {
    const uint64_t inSegment = segmented ? (record.offset + i) % kSegmentBytes : record.offset + i;
    const uint64_t address = (base + inSegment) & 0xFFFFFFFF;
    if (address < spec.address || address > spec.LastAddress()) {
        return -1;
    }
    return static_cast<long>(address - spec.address);
}

// A quick answer for the many records far from the field: false only when
// none of the record's bytes can be in it.
bool RecordStamp::MayCover(const Record& record) const {
    const uint64_t first = static_cast<uint64_t>(base) + record.offset;
    const uint64_t end = first + record.count;
    const bool wraps = segmented ? record.offset + record.count > kSegmentBytes : end > 0xFFFFFFFF;
    return wraps || (first <= spec.LastAddress() && end > spec.address);
}

void RecordStamp::TakeAddress(const char* line, Record& record) {
    if (record.count != 2 || !Whole(line, record)) {
        return;
    }
    const uint32_t word = static_cast<uint32_t>(ByteAt(line + 9) << 8 | ByteAt(line + 11));
    segmented = record.type == kExtendedSegmentRecord;
    base = segmented ? word << 4 : word << 16;
}

void RecordStamp::Filter(char* line, size_t length) {
    Record record;
    if (!Parse(line, length, record)) {
        return;
    }
    if (record.type == kExtendedSegmentRecord || record.type == kExtendedLinearRecord) {
        TakeAddress(line, record);
        return;
    }
    if (record.type != kDataRecord || !MayCover(record) || !Whole(line, record)) {
        return;
    }
    bool changed = false;
    for (size_t i = 0; i < record.count; ++i) {
        const long index = FieldIndex(record, i);
        if (index < 0) {
            continue;
        }
        if (!armed) {
            throw std::logic_error("RecordStamp: a record of the field with no value armed");
        }
        PutByte(line + record.dataAt + 2 * i, field[static_cast<size_t>(index)]);
        changed = true;
    }
    if (!changed) {
        return;
    }
    const size_t checksumAt = record.dataAt + 2 * record.count;
    int sum = 0;
    for (size_t at = 1; at < checksumAt; at += 2) {
        sum += ByteAt(line + at);
    }
    PutByte(line + checksumAt, static_cast<uint8_t>(-sum & 0xFF));
}

RecordStamp::LineCoverage RecordStamp::Look(const char* line, size_t length,
                                            std::vector<bool>& covered) {
    LineCoverage coverage;
    Record record;
    if (!Parse(line, length, record)) {
        return coverage;
    }
    if (record.type == kExtendedSegmentRecord || record.type == kExtendedLinearRecord) {
        TakeAddress(line, record);
        return coverage;
    }
    if (record.type != kDataRecord || !MayCover(record) || !Whole(line, record)) {
        return coverage;
    }
    for (size_t i = 0; i < record.count; ++i) {
        const long index = FieldIndex(record, i);
        if (index >= 0) {
            covered[static_cast<size_t>(index)] = true;
            coverage.covers = true;
        }
    }
    coverage.checksumWrong = coverage.covers && !record.checksumRight;
    return coverage;
}

StampCoverage CheckStampCoverage(const char* path, const StampSpec& spec) {
    StampCoverage result;
    UploadFile file;
    if (!file.Open(path)) {
        return result;
    }
    result.opened = true;
    RecordStamp stamp(spec);
    std::vector<bool> covered(spec.format.width, false);
    std::vector<char> line(kUploadLineBytes + 1);
    int64_t lineNumber = 1;
    for (;;) {
        size_t length = file.ReadLine(line.data(), kUploadLineBytes);
        if (length == 0 || file.ReadFailed()) {
            break;
        }
        const bool lineEnded = line[length - 1] == '\n';
        length = PrepareRecordLine(line.data(), length);
        if (IsRecordLine(line.data(), length)) {
            const RecordStamp::LineCoverage seen = stamp.Look(line.data(), length, covered);
            if (seen.checksumWrong && result.badChecksumLine == 0) {
                result.badChecksumLine = lineNumber;
            }
        }
        lineNumber += lineEnded ? 1 : 0;
    }
    for (size_t i = 0; i < covered.size(); ++i) {
        if (!covered[i]) {
            const uint32_t address = spec.address + static_cast<uint32_t>(i);
            result.firstUncovered = result.uncoveredCount == 0 ? address : result.firstUncovered;
            result.lastUncovered = address;
            ++result.uncoveredCount;
        }
    }
    return result;
}
