#include "sim/HexRecord.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The minimum record: count, two address bytes, type and checksum.
constexpr size_t kMinimumRecordBytes = 5;

}  // namespace

RecordStatus CheckRecord(std::string_view line) {
    if (line.empty() || line[0] != ':' || (line.size() - 1) % 2 != 0) {
        return RecordStatus::BadSyntax;
    }
    std::vector<uint8_t> bytes;
    for (size_t i = 1; i + 1 < line.size(); i += 2) {
        int high = HexDigit(line[i]);
        int low = HexDigit(line[i + 1]);
        if (high < 0 || low < 0) {
            return RecordStatus::BadSyntax;
        }
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    if (bytes.size() < kMinimumRecordBytes) {
        return RecordStatus::BadSyntax;
    }
    if (bytes.size() != kMinimumRecordBytes + bytes[0]) {
        return RecordStatus::BadLength;
    }
    unsigned sum = 0;
    for (uint8_t byte : bytes) {
        sum += byte;
    }
    return (sum & 0xFF) == 0 ? RecordStatus::Ok : RecordStatus::BadChecksum;
}

const char* RecordStatusText(RecordStatus status) {
    switch (status) {
        case RecordStatus::Ok:
            return "ok";
        case RecordStatus::BadSyntax:
            return "syntax error";
        case RecordStatus::BadLength:
            return "length error";
        case RecordStatus::BadChecksum:
            return "checksum error";
    }
    return "error";
}

std::string FormatRecord(uint16_t address, uint8_t recordType, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                  static_cast<uint8_t>(address >> 8),
                                  static_cast<uint8_t>(address & 0xFF), recordType};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t byte : bytes) {
        sum += byte;
    }
    bytes.push_back(static_cast<uint8_t>((0x100 - (sum & 0xFF)) & 0xFF));
    std::string line = ":";
    char digits[3];
    for (uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        line += digits;
    }
    return line;
}

std::string MakeHexFile(int recordCount, int bytesPerRecord, uint32_t seed) {
    std::string text;
    uint32_t state = seed == 0 ? 1 : seed;
    uint32_t address = 0;
    uint32_t segment = 0;
    for (int written = 0; written + 1 < recordCount; ++written) {
        if ((address >> 16) != segment) {
            segment = address >> 16;
            text += FormatRecord(0, 0x04,
                                 {static_cast<uint8_t>(segment >> 8),
                                  static_cast<uint8_t>(segment & 0xFF)}) +
                    "\r\n";
            continue;
        }
        // A record never crosses a 64 KiB boundary.
        uint32_t room = 0x10000 - (address & 0xFFFF);
        uint32_t size = std::min(static_cast<uint32_t>(bytesPerRecord), room);
        std::vector<uint8_t> data;
        for (uint32_t i = 0; i < size; ++i) {
            state = state * 1103515245u + 12345u;  // a fixed, repeatable sequence
            data.push_back(static_cast<uint8_t>(state >> 16));
        }
        text += FormatRecord(static_cast<uint16_t>(address & 0xFFFF), 0x00, data) + "\r\n";
        address += size;
    }
    if (recordCount > 0) {
        text += FormatRecord(0, 0x01, {}) + "\r\n";
    }
    return text;
}

}  // namespace sim
