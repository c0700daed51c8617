#pragma once
// Intel-HEX record lines: checking one as the board does, and writing them.
//
// A record line is ":" followed by pairs of hex digits: byte count n, address
// (2 bytes), record type, n data bytes and a checksum that makes the sum of
// all bytes 0 modulo 256. Either case of hex digit is accepted.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class RecordStatus {
    Ok,
    BadSyntax,    // no ":", an odd number of digits, a non-hex character
    BadLength,    // byte count does not match the number of data bytes
    BadChecksum,  // the bytes do not sum to 0
};

// Checks one record line given without its line end.
RecordStatus CheckRecord(std::string_view line);

// A short English text for a status, e.g. "checksum error".
const char* RecordStatusText(RecordStatus status);

// One record line (upper-case hex, without line end) of type recordType at
// address with data; the checksum is computed.
std::string FormatRecord(uint16_t address, uint8_t recordType, const std::vector<uint8_t>& data);

// A complete Intel-HEX file text of recordCount records: data records of
// bytesPerRecord pseudo-random bytes (fixed by seed) starting at address 0,
// extended-linear-address records where the address passes 64 KiB, and
// the end-of-file record (counted in recordCount). Lines end in CR LF.
std::string MakeHexFile(int recordCount, int bytesPerRecord, uint32_t seed);

}  // namespace sim
