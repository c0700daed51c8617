#pragma once
// IntelHex: the records of an Intel-HEX image, decoded in one place for
// every reader of them (the image check, the stamp).
//
// A record line is ':' and hex digits: a byte count, a two-byte address
// field, a type, that many data bytes and a checksum that makes all the
// bytes sum to 0 modulo 256. DecodeRecord reads the digits after the ':'
// (the line end taken off) and says the first thing wrong with them, if
// anything; DecodeRecordFrame reads only count, address field and type, for
// a reader that passes over most records unchanged.
//
// HexAddressing follows where the data bytes of the records go. After an
// extended segment address (type 02) the bytes of a record wrap within
// their segment of 64 Ki addresses; after an extended linear address (type
// 04) they run on into the next 64 Ki, wrapping only at the end of the
// 4 Gi addresses. An address counts units of wordBytes bytes: 1 for the
// usual byte-addressed image, 2 or 4 where a DSP's toolchain counts words;
// the data bytes of a record at address A fill the units from A on,
// wordBytes bytes each. What HexAddressing gives are byte positions,
// address * wordBytes + the byte within the unit, so that images of every
// word size are measured alike.

#include <cstddef>
#include <cstdint>

namespace intel_hex {

inline constexpr uint8_t kDataRecord = 0x00;
inline constexpr uint8_t kEndOfFileRecord = 0x01;
inline constexpr uint8_t kExtendedSegmentRecord = 0x02;
inline constexpr uint8_t kStartSegmentRecord = 0x03;
inline constexpr uint8_t kExtendedLinearRecord = 0x04;
inline constexpr uint8_t kStartLinearRecord = 0x05;
// Count, two address bytes, type, checksum.
inline constexpr int kRecordFrameBytes = 5;
// Units of an extended segment: a record wraps within them.
inline constexpr uint64_t kSegmentUnits = 0x10000;
// Units of the whole address space.
inline constexpr uint64_t kAddressUnits = 0x100000000;

}  // namespace intel_hex

// What is wrong with the digits of a record, the first thing found.
enum class RecordFault {
    None,
    NotHexDigit,    // badDigit is the index of the first one
    OddDigitCount,  // digitCount is odd
    TooShort,       // fewer than kRecordFrameBytes bytes (byteCount)
    CountMismatch,  // the count field is not the number of data bytes
};

struct HexRecord {
    size_t digitCount = 0;  // digits after the ':'
    size_t badDigit = 0;    // NotHexDigit: index into the digits
    int byteCount = 0;      // bytes the digits make
    uint8_t count = 0;      // the byte count field
    uint16_t address = 0;   // the address field
    uint8_t type = 0;
    const uint8_t* data = nullptr;  // the data bytes (into the caller's buffer)
    int dataBytes = 0;              // byteCount less the frame
    uint8_t checksum = 0;           // as given
    uint8_t rightChecksum = 0;      // the one that makes the bytes sum to 0

    bool ChecksumRight() const { return checksum == rightChecksum; }
    // The value of a two-byte data field at data[at] (an extended address).
    uint16_t Word(int at) const { return static_cast<uint16_t>(data[at] << 8 | data[at + 1]); }
};

// Decodes digits[0, count) into bytes, which holds count / 2 bytes. The
// frame and data are filled in as far as the fault allows: all of them for
// None and CountMismatch (the checksum too), byteCount for TooShort.
RecordFault DecodeRecord(const char* digits, size_t count, uint8_t* bytes, HexRecord& record);

// Reads count, address field and type from the first 8 digits; true when
// they are hex digits and count digits in all make exactly that record
// (the rest is not looked at: DecodeRecord reads it).
bool DecodeRecordFrame(const char* digits, size_t count, HexRecord& record);

// A run of byte positions [begin, end).
struct HexSpan {
    uint64_t begin = 0;
    uint64_t end = 0;
    uint64_t Length() const { return end - begin; }
};

class HexAddressing {
  public:
    // wordBytes: bytes of the unit an address counts (1, 2 or 4).
    explicit HexAddressing(uint32_t wordBytes = 1);

    uint32_t WordBytes() const { return wordBytes; }
    // Back to the start of an image: linear, base 0.
    void Restart();
    // An extended address record (type 02 or 04) and its value.
    void TakeExtendedAddress(uint8_t type, uint16_t value);

    // The byte positions the bytes data bytes of a data record at address
    // fill: one span, or two when they wrap (the second then starts at the
    // segment's start, or at 0). Returns how many spans.
    int Spans(uint16_t address, size_t bytes, HexSpan spans[2]) const;

  private:
    uint32_t wordBytes;
    uint64_t base = 0;  // units
    bool segmented = false;
};
