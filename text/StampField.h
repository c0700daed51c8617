#pragma once
// StampField: where a board's own value goes in its image, and how the value
// is written there (--stamp ADDRESS:FORMAT).
//
// Formats:
//   u16le u16be u32le u32be u64le u64be  the number in binary, 2, 4 or 8 bytes
//   ascii:N   the number in decimal, zero-padded to N characters, no terminator
//   bytes:N   N bytes given as hexadecimal ("00:1A:2B:3C:4D:5E"; separators
//             ":" or "-" or none)
// A value is kept as a counter of fixed width, big-endian: 8 bytes for the
// number formats and ascii:N, N bytes for bytes:N, so that values of one
// format compare and count the same way whatever the format.
//
// Nothing here prints; a refusal comes back as a short text saying why.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class StampKind { U16LE, U16BE, U32LE, U32BE, U64LE, U64BE, Ascii, Bytes };

struct StampFormat {
    StampKind kind = StampKind::U32LE;
    size_t width = 4;  // bytes of the field

    // "u32le", "ascii:8", "bytes:6".
    std::string Name() const;
    // Values are byte strings (bytes:N), not numbers.
    bool IsBytes() const { return kind == StampKind::Bytes; }
    // Bytes of the counter: 8 for the numbers, width for bytes:N.
    size_t CounterBytes() const { return IsBytes() ? width : 8; }
};

// ascii:N and bytes:N take N from 1 to this.
inline constexpr size_t kMaxStampWidth = 64;

struct StampSpec {
    uint32_t address = 0;  // of the field's first byte
    StampFormat format;
    // Bytes of the unit the image's addresses count (1, or 2 or 4 for an
    // image addressed in words): the field begins at the first byte of the
    // unit at address.
    uint32_t wordBytes = 1;

    // The address of the unit that holds the field's last byte.
    uint32_t LastAddress() const {
        return address + static_cast<uint32_t>((format.width - 1) / wordBytes);
    }
};

// A value as a big-endian counter of its format's CounterBytes.
struct StampValue {
    std::vector<uint8_t> counter;

    bool operator==(const StampValue& other) const { return counter == other.counter; }
    bool operator!=(const StampValue& other) const { return counter != other.counter; }
    // Values of one format, compared as numbers.
    bool operator<(const StampValue& other) const { return counter < other.counter; }
    // The value of a number format (the last 8 bytes of the counter).
    uint64_t Number() const;
};

// Parses "ADDRESS:FORMAT" (ADDRESS in decimal or hexadecimal with 0x; the
// whole field must lie below the 4 Gi addresses, counted in units of
// spec.wordBytes, which is kept as it is). False with why when it is refused.
bool ParseStampSpec(const char* text, StampSpec& spec, std::string& why);

// Parses a value in the format's notation (decimal for the numbers and
// ascii:N; hexadecimal bytes for bytes:N) and checks that it fits the field
// (65535 at most for u16le, fewer than N digits for ascii:N, exactly N bytes
// for bytes:N). False with why when it is refused.
bool ParseStampValue(const StampFormat& format, const char* text, StampValue& value,
                     std::string& why);

// A number format's value from a number; false when it does not fit.
bool StampValueOf(const StampFormat& format, uint64_t number, StampValue& value);

// Whether value fits the field of format.
bool StampValueFits(const StampFormat& format, const StampValue& value);

// The value in the format's notation: "17", or "00:1A:2B:3C:4D:5E".
std::string StampValueText(const StampFormat& format, const StampValue& value);

// value + step in the counter; false when it runs past the counter's end or
// out of the field.
bool StampValueAdd(const StampFormat& format, const StampValue& value, uint64_t step,
                   StampValue& sum);

// The bytes of the field for value, in memory order.
std::vector<uint8_t> StampFieldBytes(const StampFormat& format, const StampValue& value);
