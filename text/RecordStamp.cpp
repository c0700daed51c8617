#include "text/RecordStamp.h"

#include <stdexcept>

#include "text/HexDigits.h"

using namespace intel_hex;

namespace {

size_t WithoutLineEnd(const char* line, size_t length) {
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) {
        --length;
    }
    return length;
}

bool IsExtendedAddress(uint8_t type) {
    return type == kExtendedSegmentRecord || type == kExtendedLinearRecord;
}

}  // namespace

RecordStamp::RecordStamp(const StampSpec& fieldSpec)
    : spec(fieldSpec),
      fieldBegin(uint64_t{fieldSpec.address} * fieldSpec.wordBytes),
      fieldEnd(fieldBegin + fieldSpec.format.width),
      addressing(fieldSpec.wordBytes) {}

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
    addressing.Restart();
}

// Only the frame is read here; Whole reads the rest, for the few records
// that matter.
bool RecordStamp::Parse(const char* line, size_t length, HexRecord& record) const {
    length = WithoutLineEnd(line, length);
    return length > 0 && line[0] == ':' && DecodeRecordFrame(line + 1, length - 1, record);
}

bool RecordStamp::Whole(const char* line, HexRecord& record) {
    return DecodeRecord(line + 1, record.digitCount, bytes, record) == RecordFault::None;
}

// The byte positions of a data record, and whether any is in the field.
bool RecordStamp::Place(const HexRecord& record, Placed& placed) const {
    placed.count = addressing.Spans(record.address, record.count, placed.spans);
    for (int i = 0; i < placed.count; ++i) {
        if (placed.spans[i].begin < fieldEnd && placed.spans[i].end > fieldBegin) {
            return true;
        }
    }
    return false;
}

long RecordStamp::FieldIndex(const Placed& placed, size_t i) const {
    const uint64_t firstLength = placed.spans[0].Length();
    const uint64_t position =
        i < firstLength ? placed.spans[0].begin + i : placed.spans[1].begin + (i - firstLength);
    if (position < fieldBegin || position >= fieldEnd) {
        return -1;
    }
    return static_cast<long>(position - fieldBegin);
}

void RecordStamp::TakeAddress(const char* line, HexRecord& record) {
    if (record.count == 2 && Whole(line, record)) {
        addressing.TakeExtendedAddress(record.type, record.Word(0));
    }
}

void RecordStamp::Filter(char* line, size_t length) {
    HexRecord record;
    if (!Parse(line, length, record)) {
        return;
    }
    if (IsExtendedAddress(record.type)) {
        TakeAddress(line, record);
        return;
    }
    Placed placed;
    if (record.type != kDataRecord || !Place(record, placed) || !Whole(line, record)) {
        return;
    }
    char* data = line + 1 + 2 * (kRecordFrameBytes - 1);
    for (size_t i = 0; i < record.count; ++i) {
        const long index = FieldIndex(placed, i);
        if (index < 0) {
            continue;
        }
        if (!armed) {
            throw std::logic_error("RecordStamp: a record of the field with no value armed");
        }
        PutHexByte(data + 2 * i, field[static_cast<size_t>(index)]);
    }
    char* checksum = data + 2 * record.count;
    int sum = 0;
    for (const char* at = line + 1; at < checksum; at += 2) {
        sum += HexByteAt(at);
    }
    PutHexByte(checksum, static_cast<uint8_t>(-sum & 0xFF));
}

RecordStamp::LineCoverage RecordStamp::Look(const char* line, size_t length, FieldSeen& seen) {
    LineCoverage coverage;
    HexRecord record;
    if (!Parse(line, length, record)) {
        return coverage;
    }
    if (IsExtendedAddress(record.type)) {
        TakeAddress(line, record);
        return coverage;
    }
    Placed placed;
    if (record.type != kDataRecord || !Place(record, placed) || !Whole(line, record)) {
        return coverage;
    }
    for (size_t i = 0; i < record.count; ++i) {
        const long index = FieldIndex(placed, i);
        if (index >= 0) {
            seen.covered[static_cast<size_t>(index)] = true;
            seen.bytes[static_cast<size_t>(index)] = record.data[i];
            coverage.covers = true;
        }
    }
    coverage.checksumWrong = coverage.covers && !record.ChecksumRight();
    return coverage;
}

bool StampCoverage::Blank() const {
    const auto all = [this](uint8_t value) {
        for (uint8_t byte : bytes) {
            if (byte != value) {
                return false;
            }
        }
        return true;
    };
    return all(0xFF) || all(0x00);
}

StampCoverage CheckStampCoverage(const char* path, const StampSpec& spec) {
    StampCoverage result;
    UploadFile file;
    if (!file.Open(path)) {
        return result;
    }
    result.opened = true;
    RecordStamp stamp(spec);
    RecordStamp::FieldSeen seen;
    seen.covered.assign(spec.format.width, false);
    seen.bytes.assign(spec.format.width, 0);
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
            const RecordStamp::LineCoverage look = stamp.Look(line.data(), length, seen);
            if (look.covers && result.fieldLine == 0) {
                result.fieldLine = lineNumber;
            }
            if (look.checksumWrong && result.badChecksumLine == 0) {
                result.badChecksumLine = lineNumber;
            }
        }
        lineNumber += lineEnded ? 1 : 0;
    }
    result.bytes = seen.bytes;
    for (size_t i = 0; i < seen.covered.size(); ++i) {
        if (!seen.covered[i]) {
            const uint32_t address = spec.address + static_cast<uint32_t>(i / spec.wordBytes);
            result.firstUncovered = result.uncoveredCount == 0 ? address : result.firstUncovered;
            result.lastUncovered = address;
            ++result.uncoveredCount;
        }
    }
    return result;
}
