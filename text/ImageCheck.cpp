#include "text/ImageCheck.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>

#include "errors/FormatText.h"
#include "text/ImageCheckMessages.h"
#include "text/Sha256.h"

namespace {

// Count, two address bytes, type, checksum.
constexpr int kRecordFrameBytes = 5;
constexpr uint8_t kDataRecord = 0x00;
constexpr uint8_t kEndOfFileRecord = 0x01;
constexpr uint8_t kExtendedSegmentRecord = 0x02;
constexpr uint8_t kStartSegmentRecord = 0x03;
constexpr uint8_t kExtendedLinearRecord = 0x04;
constexpr uint8_t kStartLinearRecord = 0x05;
constexpr uint64_t kSegmentBytes = 0x10000;
constexpr uint64_t kAddressSpace = 0x100000000;
// How much of the file's start tells what kind of file it is.
constexpr size_t kSniffBytes = 4096;
const char kByteOrderMark[] = "\xEF\xBB\xBF";
const char kElfMagic[] =
    "\x7F"
    "ELF";

// The value of each byte as a hex digit, -1 for the others.
struct HexDigitTable {
    int8_t value[256] = {};
    constexpr HexDigitTable() {
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
constexpr HexDigitTable kHexDigits;

inline int HexValue(char c) {
    return kHexDigits.value[static_cast<unsigned char>(c)];
}

// A character as a finding shows it: 'G', or 0x0D when it does not print.
std::string ShownCharacter(char c) {
    char text[8];
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7F) {
        std::snprintf(text, sizeof text, "'%c'", c);
    } else {
        std::snprintf(text, sizeof text, "0x%02X", byte);
    }
    return text;
}

// The bytes written so far, as half-open ranges [begin, end) that neither
// overlap nor touch, keyed by begin.
class WrittenRanges {
  public:
    struct Overlap {
        uint64_t bytes = 0;
        uint64_t first = 0;
        uint64_t last = 0;
    };

    // Adds [begin, end); what of it was written before goes into overlap.
    void Add(uint64_t begin, uint64_t end, Overlap& overlap) {
        auto at = ranges.upper_bound(begin);
        if (at != ranges.begin() && std::prev(at)->second >= begin) {
            --at;
        }
        uint64_t mergedBegin = begin;
        uint64_t mergedEnd = end;
        while (at != ranges.end() && at->first <= end) {
            const uint64_t from = std::max(begin, at->first);
            const uint64_t to = std::min(end, at->second);
            if (from < to) {
                overlap.first = overlap.bytes == 0 ? from : std::min(overlap.first, from);
                overlap.last = std::max(overlap.last, to - 1);
                overlap.bytes += to - from;
            }
            mergedBegin = std::min(mergedBegin, at->first);
            mergedEnd = std::max(mergedEnd, at->second);
            at = ranges.erase(at);
        }
        ranges.emplace_hint(at, mergedBegin, mergedEnd);
    }

    std::vector<AddressRange> List() const {
        std::vector<AddressRange> list;
        list.reserve(ranges.size());
        for (const auto& [begin, end] : ranges) {
            list.push_back({static_cast<uint32_t>(begin), static_cast<uint32_t>(end - 1)});
        }
        return list;
    }

  private:
    std::map<uint64_t, uint64_t> ranges;
};

class ImageChecker {
  public:
    ImageChecker(ImageCheckResult& into, size_t kept) : result(into), keptFindings(kept) {}

    [[gnu::format(printf, 3, 4)]] void Add(int64_t line, const char* format, ...);
    // Every line as read, in order; continues: a full piece without a line
    // end, so that the next read goes on with the same line.
    void TakeLine(int64_t line, char* text, size_t length, bool continues);
    void Finish();

  private:
    void TakeWholeLine(int64_t line, char* text, size_t length);
    void TakeRecord(int64_t line, const char* digits, size_t count);
    void ApplyRecord(int64_t line, uint8_t type, uint16_t offset, const uint8_t* data, int size);
    bool HasDataBytes(int64_t line, uint8_t type, int size, int expected, const char* name);
    void Write(int64_t line, uint16_t offset, int size);

    ImageCheckResult& result;
    size_t keptFindings;
    WrittenRanges written;
    uint8_t bytes[kUploadLineBytes / 2];
    // The over-long line being read in pieces.
    bool inPieces = false;
    int64_t piecesLine = 0;
    int64_t piecesChars = 0;
    bool piecesSent = false;
    // Addressing of the data records.
    uint32_t base = 0;
    bool segmented = false;
    int64_t endOfFileLine = 0;
    bool afterEndReported = false;
};

void ImageChecker::Add(int64_t line, const char* format, ...) {
    ++result.findingCount;
    if (result.findings.size() >= keptFindings) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    result.findings.push_back({line, FormatTextList(format, args)});
    va_end(args);
}

void ImageChecker::TakeLine(int64_t line, char* text, size_t length, bool continues) {
    if (IsRecordLine(text, length)) {
        ++result.records;
    }
    if (!inPieces && !continues) {
        TakeWholeLine(line, text, length);
        return;
    }
    if (!inPieces) {
        inPieces = true;
        piecesLine = line;
        piecesChars = 0;
        piecesSent = false;
    }
    piecesChars += static_cast<int64_t>(length);
    piecesSent = piecesSent || IsRecordLine(text, length);
    if (!continues) {
        inPieces = false;
        if (piecesSent) {
            Add(piecesLine, messages::kRecordLineTooLongFormat,
                static_cast<long long>(piecesChars));
        }
    }
}

void ImageChecker::TakeWholeLine(int64_t line, char* text, size_t length) {
    if (!IsRecordLine(text, length)) {
        const size_t mark = sizeof kByteOrderMark - 1;
        if (length > mark && std::memcmp(text, kByteOrderMark, mark) == 0 &&
            IsRecordLine(text + mark, length - mark)) {
            Add(line, messages::kByteOrderMarkLine);
        }
        return;
    }
    if (length > kMaxCrLfLineChars) {
        Add(line, messages::kRecordLineTooLongFormat, static_cast<long long>(length));
        return;
    }
    // What the board receives: the record, then CR LF.
    length = PrepareRecordLine(text, length);
    TakeRecord(line, text + 1, length - 3);
}

void ImageChecker::TakeRecord(int64_t line, const char* digits, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (HexValue(digits[i]) < 0) {
            Add(line, messages::kNotHexDigitFormat, ShownCharacter(digits[i]).c_str(),
                static_cast<int>(i) + 2);
            return;
        }
    }
    if (count % 2 != 0) {
        Add(line, messages::kOddDigitCountFormat, static_cast<int>(count));
        return;
    }
    const int size = static_cast<int>(count / 2);
    unsigned sum = 0;
    for (int i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(HexValue(digits[2 * i]) * 16 + HexValue(digits[2 * i + 1]));
        sum += bytes[i];
    }
    if (size < kRecordFrameBytes) {
        Add(line, messages::kRecordTooShortFormat, size);
        return;
    }
    const int dataSize = size - kRecordFrameBytes;
    if (bytes[0] != dataSize) {
        Add(line, messages::kByteCountMismatchFormat, bytes[0], dataSize);
        return;
    }
    if ((sum & 0xFF) != 0) {
        const unsigned given = bytes[size - 1];
        Add(line, messages::kChecksumWrongFormat, given, (given - sum) & 0xFF);
    }
    ApplyRecord(line, bytes[3], static_cast<uint16_t>(bytes[1] << 8 | bytes[2]), bytes + 4,
                dataSize);
}

void ImageChecker::ApplyRecord(int64_t line, uint8_t type, uint16_t offset, const uint8_t* data,
                               int size) {
    if (endOfFileLine != 0 && type != kEndOfFileRecord && !afterEndReported) {
        Add(line, messages::kRecordAfterEndOfFileFormat, static_cast<long long>(endOfFileLine));
        afterEndReported = true;
    }
    const auto word = [data](int at) {
        return static_cast<uint32_t>(data[at] << 8 | data[at + 1]);
    };
    switch (type) {
        case kDataRecord:
            Write(line, offset, size);
            break;
        case kEndOfFileRecord:
            if (endOfFileLine != 0) {
                Add(line, messages::kAnotherEndOfFileFormat, static_cast<long long>(endOfFileLine));
            } else {
                endOfFileLine = line;
            }
            break;
        case kExtendedSegmentRecord:
        case kExtendedLinearRecord:
            if (HasDataBytes(line, type, size, 2,
                             type == kExtendedSegmentRecord
                                 ? messages::kExtendedSegmentAddressName
                                 : messages::kExtendedLinearAddressName)) {
                segmented = type == kExtendedSegmentRecord;
                base = segmented ? word(0) << 4 : word(0) << 16;
            }
            break;
        case kStartSegmentRecord:
        case kStartLinearRecord:
            if (HasDataBytes(line, type, size, 4,
                             type == kStartSegmentRecord ? messages::kStartSegmentAddressName
                                                         : messages::kStartLinearAddressName)) {
                result.startKind = type == kStartSegmentRecord ? StartAddressKind::Segment
                                                               : StartAddressKind::Linear;
                result.startAddress = word(0) << 16 | word(2);
            }
            break;
        default:
            Add(line, messages::kUnknownRecordTypeFormat, type);
            break;
    }
}

bool ImageChecker::HasDataBytes(int64_t line, uint8_t type, int size, int expected,
                                const char* name) {
    if (size != expected) {
        Add(line, messages::kAddressRecordLengthFormat, name, type, size, expected);
        return false;
    }
    return true;
}

// A segment-addressed record wraps within its 64 KiB segment; a linear one
// runs on into the next 64 KiB and wraps only at the end of the 4 GiB.
void ImageChecker::Write(int64_t line, uint16_t offset, int size) {
    result.dataBytes += size;
    if (size == 0) {
        return;
    }
    const uint64_t wrapAt = segmented ? base + kSegmentBytes : kAddressSpace;
    const uint64_t wrapTo = segmented ? base : 0;
    const uint64_t begin = segmented ? base + offset : (uint64_t{base} + offset) % kAddressSpace;
    const uint64_t end = begin + static_cast<uint64_t>(size);
    WrittenRanges::Overlap overlap;
    written.Add(begin, std::min(end, wrapAt), overlap);
    if (end > wrapAt) {
        written.Add(wrapTo, wrapTo + (end - wrapAt), overlap);
    }
    if (overlap.bytes != 0) {
        Add(line, messages::kDataWrittenTwiceFormat, static_cast<long long>(overlap.bytes),
            static_cast<unsigned>(overlap.first), static_cast<unsigned>(overlap.last));
    }
}

void ImageChecker::Finish() {
    if (inPieces && piecesSent) {
        Add(piecesLine, messages::kRecordLineTooLongFormat, static_cast<long long>(piecesChars));
    }
    if (result.records == 0) {
        Add(0, messages::kNoRecordLine);
    } else {
        if (endOfFileLine == 0) {
            Add(0, messages::kNoEndOfFileRecord);
        }
        if (result.dataBytes == 0) {
            Add(0, messages::kNoDataRecord);
        }
    }
    result.ranges = written.List();
}

void CheckLines(UploadFile& file, ImageChecker& checker) {
    auto line = std::make_unique<char[]>(kUploadLineBytes + 1);
    int64_t lineNumber = 1;
    while (const size_t length = file.ReadLine(line.get(), kUploadLineBytes)) {
        if (file.ReadFailed()) {
            break;  // the download does not send a line cut short by a failed read
        }
        const bool endsInLf = line[length - 1] == '\n';
        checker.TakeLine(lineNumber, line.get(), length,
                         !endsInLf && length == kUploadLineBytes - 1);
        if (endsInLf) {
            ++lineNumber;
        }
    }
    if (file.ReadFailed()) {
        checker.Add(0, messages::kImageReadFailed);
    }
    checker.Finish();
}

bool StartsWithIgnoringCase(const uint8_t* bytes, size_t length, const char* text) {
    const size_t textLength = std::strlen(text);
    if (length < textLength) {
        return false;
    }
    for (size_t i = 0; i < textLength; ++i) {
        const int c = bytes[i] >= 'A' && bytes[i] <= 'Z' ? bytes[i] - 'A' + 'a' : bytes[i];
        if (c != text[i]) {
            return false;
        }
    }
    return true;
}

bool LooksLikeHtml(const uint8_t* bytes, size_t length) {
    size_t at = 0;
    if (length >= 3 && std::memcmp(bytes, kByteOrderMark, 3) == 0) {
        at = 3;
    }
    while (at < length && std::strchr(" \t\r\n\f\v", bytes[at]) != nullptr && bytes[at] != 0) {
        ++at;
    }
    return StartsWithIgnoringCase(bytes + at, length - at, "<!doctype html") ||
           StartsWithIgnoringCase(bytes + at, length - at, "<html");
}

// A zero byte, or more than one in ten bytes a control character that text
// does not hold.
bool LooksBinary(const uint8_t* bytes, size_t length) {
    size_t controls = 0;
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] == 0) {
            return true;
        }
        const bool textControl = std::strchr("\t\n\v\f\r\x1A", bytes[i]) != nullptr;
        controls += (bytes[i] < 0x20 && !textControl) || bytes[i] == 0x7F;
    }
    return controls * 10 > length;
}

// The finding for a file that is plainly no Intel-HEX text, from its first
// bytes, or nullptr.
const char* KindOfFile(const uint8_t* start, size_t length) {
    length = std::min(length, kSniffBytes);
    if (length >= sizeof kElfMagic - 1 &&
        std::memcmp(start, kElfMagic, sizeof kElfMagic - 1) == 0) {
        return messages::kLooksLikeElf;
    }
    if (LooksLikeHtml(start, length)) {
        return messages::kLooksLikeHtml;
    }
    return LooksBinary(start, length) ? messages::kLooksBinary : nullptr;
}

}  // namespace

ImageCheckResult CheckImage(UploadFile& file, size_t keptFindings) {
    ImageCheckResult result;
    result.opened = file.IsOpen();
    ImageChecker checker(result, keptFindings);
    CheckLines(file, checker);
    return result;
}

ImageCheckResult CheckImageFile(const char* path, size_t keptFindings) {
    ImageCheckResult result;
    UploadFile file;
    if (!file.Open(path)) {
        return result;
    }
    result.opened = true;
    ImageChecker checker(result, keptFindings);
    // One reading serves the lines, the digest and the look at the first
    // bytes, so that a pipe is checked as well as a file.
    Sha256 digest;
    bool first = true;
    file.ObserveBlocks([&](const uint8_t* bytes, size_t count) {
        if (first) {
            first = false;
            if (const char* kind = KindOfFile(bytes, count)) {
                checker.Add(0, "%s", kind);
            }
        }
        digest.Update(bytes, count);
    });
    CheckLines(file, checker);
    const bool readWhole = file.ReadRest() && !file.ReadFailed();
    result.sha256 = readWhole ? digest.HexDigest() : std::string();
    return result;
}
