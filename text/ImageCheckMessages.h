#pragma once
// The image check's findings (text/ImageCheck.h), one message each.

namespace messages {

// The findings, on one record line.
inline constexpr const char* kNotHexDigitFormat = "character %s at column %d is not a hex digit";
inline constexpr const char* kOddDigitCountFormat = "odd number of hex digits (%d)";
inline constexpr const char* kRecordTooShortFormat =
    "record of %d bytes is too short (count, address, type and checksum take 5)";
inline constexpr const char* kByteCountMismatchFormat =
    "byte count %d does not match the %d data bytes";
inline constexpr const char* kChecksumWrongFormat = "checksum 0x%02X is wrong (0x%02X expected)";
inline constexpr const char* kUnknownRecordTypeFormat =
    "unknown record type %02X (00 to 05 expected)";
// The record's name, its type, its data bytes, the data bytes it needs.
inline constexpr const char* kAddressRecordLengthFormat =
    "%s record (type %02X) with %d data bytes (%d expected)";
inline constexpr const char* kExtendedSegmentAddressName = "extended segment address";
inline constexpr const char* kStartSegmentAddressName = "start segment address";
inline constexpr const char* kExtendedLinearAddressName = "extended linear address";
inline constexpr const char* kStartLinearAddressName = "start linear address";
inline constexpr const char* kEndOfFileName = "end-of-file";
// The record's name, its type, its address field.
inline constexpr const char* kAddressFieldNotZeroFormat =
    "%s record (type %02X) with address field %04X (0000 expected)";
inline constexpr const char* kAnotherEndOfFileFormat =
    "another end-of-file record (the first is on line %lld)";
inline constexpr const char* kRecordAfterEndOfFileFormat =
    "record after the end-of-file record of line %lld";
inline constexpr const char* kDataWrittenTwiceFormat =
    "data written twice: %lld bytes in 0x%08X-0x%08X";
// An image whose addresses count words: a data record's bytes fill whole
// words. The data bytes, the bits of a word.
inline constexpr const char* kPartWordFormat = "%d data bytes do not fill whole %u-bit words";
inline constexpr const char* kRecordLineTooLongFormat =
    "record line of %lld characters: the download sends at most 9998 as one line";
inline constexpr const char* kByteOrderMarkLine =
    "the line begins with a byte-order mark, so the download skips it";
inline constexpr const char* kIndentedRecordLine =
    "the line begins with white space before its ':', so the download skips it";
inline constexpr const char* kRecordWithoutColonLine =
    "the line is hex digits without the ':' of a record, so the download skips it";
// The findings on the file as a whole.
inline constexpr const char* kNoRecordLine = "no record line (no line begins with ':')";
inline constexpr const char* kNoEndOfFileRecord = "no end-of-file record (type 01)";
inline constexpr const char* kNoDataRecord = "no data record: the image writes no byte";
inline constexpr const char* kImageReadFailed = "the file could not be read to its end";
inline constexpr const char* kLooksLikeHtml =
    "this is an HTML page (a saved web page?), not an Intel-HEX file";
inline constexpr const char* kLooksLikeElf =
    "this is an ELF file (a linked program), not an Intel-HEX file: convert it first";
inline constexpr const char* kLooksBinary = "this is a binary file, not an Intel-HEX text";

}  // namespace messages
