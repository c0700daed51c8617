#pragma once
// HexDigits: the one table of hexadecimal digits for everything that reads
// or writes them (Intel-HEX records, stamp values, digests).

#include <cstdint>

// The digits for writing a nibble.
inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";
inline constexpr char kLowerHexDigits[] = "0123456789abcdef";

namespace hex_digits_detail {

// The value of each byte as a hex digit (either case), -1 for the others.
struct Table {
    int8_t value[256] = {};
    constexpr Table() {
        for (int byte = 0; byte < 256; ++byte) {
            value[byte] = -1;
        }
        for (int digit = 0; digit < 10; ++digit) {
            value['0' + digit] = static_cast<int8_t>(digit);
        }
        for (int digit = 0; digit < 6; ++digit) {
            value['A' + digit] = static_cast<int8_t>(10 + digit);
            value['a' + digit] = static_cast<int8_t>(10 + digit);
        }
    }
};
inline constexpr Table kTable;

}  // namespace hex_digits_detail

// The value of c as a hex digit (0 to 15, either case), -1 when it is none.
inline int HexDigitValue(char c) {
    return hex_digits_detail::kTable.value[static_cast<unsigned char>(c)];
}

// The byte of the two hex digits at text, -1 when either is no hex digit.
inline int HexByteAt(const char* text) {
    const int high = HexDigitValue(text[0]);
    const int low = HexDigitValue(text[1]);
    return high < 0 || low < 0 ? -1 : high << 4 | low;
}

// Writes byte as two upper-case hex digits at text.
inline void PutHexByte(char* text, uint8_t byte) {
    text[0] = kUpperHexDigits[byte >> 4];
    text[1] = kUpperHexDigits[byte & 0x0F];
}
