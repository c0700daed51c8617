#include "text/ImageCheck.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>

#include "errors/FormatText.h"
#include "text/HexDigits.h"
#include "text/ImageCheckMessages.h"
#include "text/IntelHex.h"
#include "text/Sha256.h"

using namespace intel_hex;

namespace {

// How much of the file's start tells what kind of file it is.
constexpr size_t kSniffBytes = 4096;
const char kByteOrderMark[] = "\xEF\xBB\xBF";
const char kElfMagic[] =
    "\x7F"
    "ELF";

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

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// Why a line that the download skips is a record all the same, as a finding
// that names it; nullptr for a line that is none (a comment, a blank line).
const char* LostRecord(const char* text, size_t length) {
    while (length > 0 && text[length - 1] == '\n') {
        --length;
    }
    const size_t mark = sizeof kByteOrderMark - 1;
    if (length > mark && std::memcmp(text, kByteOrderMark, mark) == 0 &&
        IsRecordLine(text + mark, length - mark)) {
        return messages::kByteOrderMarkLine;
    }
    size_t at = 0;
    while (at < length && IsBlank(text[at])) {
        ++at;
    }
    if (at > 0 && at < length && text[at] == ':') {
        return messages::kIndentedRecordLine;
    }
    while (length > at && IsBlank(text[length - 1])) {
        --length;
    }
    if (length - at < 2 * static_cast<size_t>(kRecordFrameBytes)) {
        return nullptr;  // fewer digits than the shortest record has
    }
    for (size_t i = at; i < length; ++i) {
        if (HexDigitValue(text[i]) < 0) {
            return nullptr;
        }
    }
    return messages::kRecordWithoutColonLine;
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

    // The ranges as addresses of units of unitBytes, merged where they
    // touch (which byte ranges of part units may do).
    std::vector<AddressRange> List(uint32_t unitBytes) const {
        std::vector<AddressRange> list;
        list.reserve(ranges.size());
        for (const auto& [begin, end] : ranges) {
            const auto first = static_cast<uint32_t>(begin / unitBytes);
            const auto last = static_cast<uint32_t>((end - 1) / unitBytes);
            if (!list.empty() && uint64_t{list.back().last} + 1 >= first) {
                list.back().last = std::max(list.back().last, last);
            } else {
                list.push_back({first, last});
            }
        }
        return list;
    }

  private:
    std::map<uint64_t, uint64_t> ranges;
};

class ImageChecker {
  public:
    ImageChecker(ImageCheckResult& into, size_t kept, uint32_t wordBytes)
        : result(into), keptFindings(kept), addressing(wordBytes) {}

    [[gnu::format(printf, 3, 4)]] void Add(int64_t line, const char* format, ...);
    // Every line as read, in order; continues: a full piece without a line
    // end, so that the next read goes on with the same line.
    void TakeLine(int64_t line, char* text, size_t length, bool continues);
    void Finish();

  private:
    void CloseLine();
    void TakeWholeLine(int64_t line, char* text, size_t length);
    void TakeRecord(int64_t line, const char* digits, size_t count);
    void ApplyRecord(int64_t line, const HexRecord& record);
    void TakeExtendedAddress(int64_t line, const HexRecord& record);
    bool HasDataBytes(int64_t line, const HexRecord& record, int expected, const char* name);
    void Write(int64_t line, const HexRecord& record);

    ImageCheckResult& result;
    size_t keptFindings;
    WrittenRanges written;
    uint8_t bytes[kUploadLineBytes / 2];
    // The over-long line being read in pieces.
    bool inPieces = false;
    int64_t piecesLine = 0;
    int64_t piecesChars = 0;
    bool piecesSent = false;
    // The line being read (its number; 0 before the first), and what its
    // pieces were.
    int64_t openLine = 0;
    bool openLineSent = false;
    bool openLineNamed = false;
    HexAddressing addressing;
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
    if (line != openLine) {
        CloseLine();
        openLine = line;
    }
    if (IsRecordLine(text, length)) {
        ++result.records;
        openLineSent = true;
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

// A line the download skips is counted, unless it is a record in all but
// what makes the download skip it: then it is named.
void ImageChecker::CloseLine() {
    if (openLine != 0 && !openLineSent && !openLineNamed) {
        ++result.skippedLines;
    }
    openLineSent = false;
    openLineNamed = false;
}

void ImageChecker::TakeWholeLine(int64_t line, char* text, size_t length) {
    if (!IsRecordLine(text, length)) {
        if (const char* lost = LostRecord(text, length)) {
            Add(line, "%s", lost);
            openLineNamed = true;
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
    HexRecord record;
    switch (DecodeRecord(digits, count, bytes, record)) {
        case RecordFault::NotHexDigit:
            Add(line, messages::kNotHexDigitFormat, ShownCharacter(digits[record.badDigit]).c_str(),
                static_cast<int>(record.badDigit) + 2);
            return;
        case RecordFault::OddDigitCount:
            Add(line, messages::kOddDigitCountFormat, static_cast<int>(count));
            return;
        case RecordFault::TooShort:
            Add(line, messages::kRecordTooShortFormat, record.byteCount);
            return;
        case RecordFault::CountMismatch:
            Add(line, messages::kByteCountMismatchFormat, record.count, record.dataBytes);
            return;
        case RecordFault::None:
            break;
    }
    if (!record.ChecksumRight()) {
        Add(line, messages::kChecksumWrongFormat, record.checksum, record.rightChecksum);
    }
    ApplyRecord(line, record);
}

void ImageChecker::ApplyRecord(int64_t line, const HexRecord& record) {
    const uint8_t type = record.type;
    if (endOfFileLine != 0 && type != kEndOfFileRecord && !afterEndReported) {
        Add(line, messages::kRecordAfterEndOfFileFormat, static_cast<long long>(endOfFileLine));
        afterEndReported = true;
    }
    switch (type) {
        case kDataRecord:
            Write(line, record);
            break;
        case kEndOfFileRecord:
            HasDataBytes(line, record, 0, messages::kEndOfFileName);
            if (endOfFileLine != 0) {
                Add(line, messages::kAnotherEndOfFileFormat, static_cast<long long>(endOfFileLine));
            } else {
                endOfFileLine = line;
            }
            break;
        case kExtendedSegmentRecord:
        case kExtendedLinearRecord:
            TakeExtendedAddress(line, record);
            break;
        case kStartSegmentRecord:
        case kStartLinearRecord:
            if (HasDataBytes(line, record, 4,
                             type == kStartSegmentRecord ? messages::kStartSegmentAddressName
                                                         : messages::kStartLinearAddressName)) {
                result.startKind = type == kStartSegmentRecord ? StartAddressKind::Segment
                                                               : StartAddressKind::Linear;
                result.startAddress = uint32_t{record.Word(0)} << 16 | record.Word(2);
            }
            break;
        default:
            Add(line, messages::kUnknownRecordTypeFormat, type);
            break;
    }
}

// An extended address record has 0000 in its address field; one that has
// not is still taken, so that one fault gives one finding.
void ImageChecker::TakeExtendedAddress(int64_t line, const HexRecord& record) {
    const char* name = record.type == kExtendedSegmentRecord ? messages::kExtendedSegmentAddressName
                                                             : messages::kExtendedLinearAddressName;
    if (record.address != 0) {
        Add(line, messages::kAddressFieldNotZeroFormat, name, record.type,
            static_cast<unsigned>(record.address));
    }
    if (HasDataBytes(line, record, 2, name)) {
        addressing.TakeExtendedAddress(record.type, record.Word(0));
    }
}

bool ImageChecker::HasDataBytes(int64_t line, const HexRecord& record, int expected,
                                const char* name) {
    if (record.dataBytes != expected) {
        Add(line, messages::kAddressRecordLengthFormat, name, record.type, record.dataBytes,
            expected);
        return false;
    }
    return true;
}

void ImageChecker::Write(int64_t line, const HexRecord& record) {
    result.dataBytes += record.dataBytes;
    if (record.dataBytes == 0) {
        return;
    }
    const uint32_t unit = addressing.WordBytes();
    if (record.dataBytes % static_cast<int>(unit) != 0) {
        Add(line, messages::kPartWordFormat, record.dataBytes, 8 * unit);
    }
    HexSpan spans[2];
    const int count =
        addressing.Spans(record.address, static_cast<size_t>(record.dataBytes), spans);
    WrittenRanges::Overlap overlap;
    for (int i = 0; i < count; ++i) {
        written.Add(spans[i].begin, spans[i].end, overlap);
    }
    if (overlap.bytes != 0) {
        Add(line, messages::kDataWrittenTwiceFormat, static_cast<long long>(overlap.bytes),
            static_cast<unsigned>(overlap.first / unit),
            static_cast<unsigned>(overlap.last / unit));
    }
}

void ImageChecker::Finish() {
    CloseLine();
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
    result.ranges = written.List(addressing.WordBytes());
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

ImageCheckResult CheckImage(UploadFile& file, size_t keptFindings, uint32_t wordBytes) {
    ImageCheckResult result;
    result.opened = file.IsOpen();
    result.wordBytes = wordBytes;
    ImageChecker checker(result, keptFindings, wordBytes);
    CheckLines(file, checker);
    return result;
}

ImageCheckResult CheckImageFile(const char* path, size_t keptFindings, uint32_t wordBytes) {
    ImageCheckResult result;
    result.wordBytes = wordBytes;
    UploadFile file;
    if (!file.Open(path)) {
        return result;
    }
    result.opened = true;
    ImageChecker checker(result, keptFindings, wordBytes);
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
