#include "text/StampField.h"

#include <cstdio>
#include <cstring>

#include "text/HexDigits.h"

namespace {

struct NamedKind {
    const char* name;
    StampKind kind;
    size_t width;
};

const NamedKind kFixedFormats[] = {
    {"u16le", StampKind::U16LE, 2}, {"u16be", StampKind::U16BE, 2},
    {"u32le", StampKind::U32LE, 4}, {"u32be", StampKind::U32BE, 4},
    {"u64le", StampKind::U64LE, 8}, {"u64be", StampKind::U64BE, 8},
};

// Decimal digits only, up to limit; false for anything else.
bool ParseDecimal(const char* text, uint64_t limit, uint64_t& number) {
    number = 0;
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
        const uint64_t digit = static_cast<uint64_t>(*text - '0');
        if (number > (limit - digit) / 10) {
            return false;
        }
        number = number * 10 + digit;
    }
    return true;
}

// "0x" and hexadecimal digits, or decimal digits; up to limit.
bool ParseAddress(const std::string& text, uint64_t limit, uint64_t& number) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        number = 0;
        for (size_t i = 2; i < text.size(); ++i) {
            const int digit = HexDigitValue(text[i]);
            if (digit < 0 || number > (limit >> 4)) {
                return false;
            }
            number = number << 4 | static_cast<uint64_t>(digit);
        }
        return number <= limit;
    }
    return ParseDecimal(text.c_str(), limit, number);
}

bool ParseFormat(const std::string& text, StampFormat& format) {
    for (const NamedKind& fixed : kFixedFormats) {
        if (text == fixed.name) {
            format = {fixed.kind, fixed.width};
            return true;
        }
    }
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    const std::string kind = text.substr(0, colon);
    if (kind != "ascii" && kind != "bytes") {
        return false;
    }
    uint64_t width = 0;
    if (!ParseDecimal(text.c_str() + colon + 1, kMaxStampWidth, width) || width == 0) {
        return false;
    }
    format = {kind == "ascii" ? StampKind::Ascii : StampKind::Bytes, static_cast<size_t>(width)};
    return true;
}

// The largest number of a number format's field.
uint64_t NumberLimit(const StampFormat& format) {
    switch (format.kind) {
        case StampKind::U16LE:
        case StampKind::U16BE:
            return 0xFFFF;
        case StampKind::U32LE:
        case StampKind::U32BE:
            return 0xFFFFFFFF;
        case StampKind::Ascii: {
            uint64_t limit = 1;
            for (size_t i = 0; i < format.width; ++i) {
                if (limit > UINT64_MAX / 10) {
                    return UINT64_MAX;
                }
                limit *= 10;
            }
            return limit - 1;
        }
        default:
            return UINT64_MAX;
    }
}

// Hexadecimal bytes, two digits each, all separated by ':' or all by '-' or
// not at all.
bool ParseHexBytes(const char* text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    const size_t length = std::strlen(text);
    const char separator = std::strchr(text, ':') != nullptr   ? ':'
                           : std::strchr(text, '-') != nullptr ? '-'
                                                               : '\0';
    size_t at = 0;
    while (at < length) {
        if (at + 2 > length || HexDigitValue(text[at]) < 0 || HexDigitValue(text[at + 1]) < 0) {
            return false;
        }
        bytes.push_back(
            static_cast<uint8_t>(HexDigitValue(text[at]) << 4 | HexDigitValue(text[at + 1])));
        at += 2;
        if (separator != '\0' && at < length) {
            if (text[at] != separator || at + 1 == length) {
                return false;
            }
            ++at;
        }
    }
    return !bytes.empty();
}

}  // namespace

std::string StampFormat::Name() const {
    for (const NamedKind& fixed : kFixedFormats) {
        if (fixed.kind == kind) {
            return fixed.name;
        }
    }
    return (kind == StampKind::Ascii ? "ascii:" : "bytes:") + std::to_string(width);
}

uint64_t StampValue::Number() const {
    uint64_t number = 0;
    const size_t from = counter.size() > 8 ? counter.size() - 8 : 0;
    for (size_t i = from; i < counter.size(); ++i) {
        number = number << 8 | counter[i];
    }
    return number;
}

bool ParseStampSpec(const char* text, StampSpec& spec, std::string& why) {
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr) {
        why = "ADDRESS:FORMAT expected";
        return false;
    }
    uint64_t address = 0;
    if (!ParseAddress(std::string(text, colon), 0xFFFFFFFF, address)) {
        why = "the address is not a number below 4 GiB (decimal, or hexadecimal with 0x)";
        return false;
    }
    StampFormat format;
    if (!ParseFormat(colon + 1, format)) {
        why = "unknown format (u16le, u16be, u32le, u32be, u64le, u64be, ascii:N, bytes:N; N "
              "from 1 to " +
              std::to_string(kMaxStampWidth) + ")";
        return false;
    }
    const uint32_t wordBytes = spec.wordBytes == 0 ? 1 : spec.wordBytes;
    if (address + (format.width - 1) / wordBytes > 0xFFFFFFFF) {
        why = "the field runs past the end of the 4 GiB address space";
        return false;
    }
    spec.address = static_cast<uint32_t>(address);
    spec.format = format;
    return true;
}

bool StampValueOf(const StampFormat& format, uint64_t number, StampValue& value) {
    if (format.IsBytes() || number > NumberLimit(format)) {
        return false;
    }
    value.counter.assign(8, 0);
    for (size_t i = 0; i < 8; ++i) {
        value.counter[7 - i] = static_cast<uint8_t>(number >> (8 * i));
    }
    return true;
}

bool ParseStampValue(const StampFormat& format, const char* text, StampValue& value,
                     std::string& why) {
    if (format.IsBytes()) {
        std::vector<uint8_t> bytes;
        if (!ParseHexBytes(text, bytes)) {
            why = "not hexadecimal bytes (such as 00:1A:2B, 00-1A-2B or 001A2B)";
            return false;
        }
        if (bytes.size() != format.width) {
            why = std::to_string(bytes.size()) + " bytes where " + format.Name() + " takes " +
                  std::to_string(format.width);
            return false;
        }
        value.counter = bytes;
        return true;
    }
    uint64_t number = 0;
    if (!ParseDecimal(text, UINT64_MAX, number)) {
        why = "not a decimal number of at most 64 bits";
        return false;
    }
    if (!StampValueOf(format, number, value)) {
        why = "does not fit " + format.Name() + " (at most " +
              std::to_string(NumberLimit(format)) + ")";
        return false;
    }
    return true;
}

bool StampValueFits(const StampFormat& format, const StampValue& value) {
    if (value.counter.size() != format.CounterBytes()) {
        return false;
    }
    return format.IsBytes() || value.Number() <= NumberLimit(format);
}

std::string StampValueText(const StampFormat& format, const StampValue& value) {
    if (!format.IsBytes()) {
        return std::to_string(value.Number());
    }
    std::string text;
    char digits[4];
    for (size_t i = 0; i < value.counter.size(); ++i) {
        std::snprintf(digits, sizeof digits, i == 0 ? "%02X" : ":%02X", value.counter[i]);
        text += digits;
    }
    return text;
}

bool StampValueAdd(const StampFormat& format, const StampValue& value, uint64_t step,
                   StampValue& sum) {
    sum = value;
    uint64_t carry = step;
    for (size_t i = sum.counter.size(); i-- > 0 && carry != 0;) {
        const uint64_t total = sum.counter[i] + (carry & 0xFF);
        sum.counter[i] = static_cast<uint8_t>(total);
        carry = (carry >> 8) + (total >> 8);
    }
    return carry == 0 && StampValueFits(format, sum);
}

std::vector<uint8_t> StampFieldBytes(const StampFormat& format, const StampValue& value) {
    const uint64_t number = value.Number();
    std::vector<uint8_t> bytes(format.width);
    switch (format.kind) {
        case StampKind::U16LE:
        case StampKind::U32LE:
        case StampKind::U64LE:
            for (size_t i = 0; i < format.width; ++i) {
                bytes[i] = static_cast<uint8_t>(number >> (8 * i));
            }
            break;
        case StampKind::U16BE:
        case StampKind::U32BE:
        case StampKind::U64BE:
            for (size_t i = 0; i < format.width; ++i) {
                bytes[format.width - 1 - i] = static_cast<uint8_t>(number >> (8 * i));
            }
            break;
        case StampKind::Ascii: {
            uint64_t rest = number;
            for (size_t i = format.width; i-- > 0;) {
                bytes[i] = static_cast<uint8_t>('0' + rest % 10);
                rest /= 10;
            }
            break;
        }
        case StampKind::Bytes:
            bytes = value.counter;
            break;
    }
    return bytes;
}
