#include "text/IntelHex.h"

#include "text/HexDigits.h"

using namespace intel_hex;

RecordFault DecodeRecord(const char* digits, size_t count, uint8_t* bytes, HexRecord& record) {
    record.digitCount = count;
    for (size_t i = 0; i < count; ++i) {
        if (HexDigitValue(digits[i]) < 0) {
            record.badDigit = i;
            return RecordFault::NotHexDigit;
        }
    }
    if (count % 2 != 0) {
        return RecordFault::OddDigitCount;
    }
    record.byteCount = static_cast<int>(count / 2);
    unsigned sum = 0;
    for (int i = 0; i < record.byteCount; ++i) {
        bytes[i] = static_cast<uint8_t>(HexByteAt(digits + 2 * i));
        sum += bytes[i];
    }
    if (record.byteCount < kRecordFrameBytes) {
        return RecordFault::TooShort;
    }
    record.count = bytes[0];
    record.address = static_cast<uint16_t>(bytes[1] << 8 | bytes[2]);
    record.type = bytes[3];
    record.data = bytes + 4;
    record.dataBytes = record.byteCount - kRecordFrameBytes;
    record.checksum = bytes[record.byteCount - 1];
    record.rightChecksum = static_cast<uint8_t>((record.checksum - sum) & 0xFF);
    return record.count == record.dataBytes ? RecordFault::None : RecordFault::CountMismatch;
}

bool DecodeRecordFrame(const char* digits, size_t count, HexRecord& record) {
    if (count < 2 * kRecordFrameBytes) {
        return false;
    }
    const int byteCount = HexByteAt(digits);
    const int high = HexByteAt(digits + 2);
    const int low = HexByteAt(digits + 4);
    const int type = HexByteAt(digits + 6);
    if (byteCount < 0 || high < 0 || low < 0 || type < 0 ||
        count != 2 * (kRecordFrameBytes + static_cast<size_t>(byteCount))) {
        return false;
    }
    record.digitCount = count;
    record.count = static_cast<uint8_t>(byteCount);
    record.address = static_cast<uint16_t>(high << 8 | low);
    record.type = static_cast<uint8_t>(type);
    return true;
}

HexAddressing::HexAddressing(uint32_t unitBytes) : wordBytes(unitBytes) {}

void HexAddressing::Restart() {
    base = 0;
    segmented = false;
}

void HexAddressing::TakeExtendedAddress(uint8_t type, uint16_t value) {
    segmented = type == kExtendedSegmentRecord;
    base = segmented ? uint64_t{value} << 4 : uint64_t{value} << 16;
}

int HexAddressing::Spans(uint16_t address, size_t bytes, HexSpan spans[2]) const {
    const uint64_t wrapAt = wordBytes * (segmented ? base + kSegmentUnits : kAddressUnits);
    const uint64_t wrapTo = segmented ? wordBytes * base : 0;
    const uint64_t begin = wordBytes * ((base + address) % kAddressUnits);
    const uint64_t end = begin + bytes;
    spans[0] = {begin, end < wrapAt ? end : wrapAt};
    if (end <= wrapAt) {
        return 1;
    }
    spans[1] = {wrapTo, wrapTo + (end - wrapAt)};
    return 2;
}
