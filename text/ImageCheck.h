#pragma once
// ImageCheck: whether an upload data file is a sound Intel-HEX image.
//
// The check looks at the lines the download sends, read and prepared exactly
// as the download reads and prepares them (UploadFile::ReadLine with
// kUploadLineBytes, IsRecordLine, PrepareRecordLine), so the two never
// disagree on what a record is. On each record line it checks:
// - only hex digits (either case) after the colon, an even number of them,
//   at least the five bytes of count, address, type and checksum;
// - the byte count against the data bytes, and the checksum;
// - the record type (00 to 05), and the data length of the address records:
//   two bytes for 02 and 04, four for 03 and 05; 0000 in the address field
//   of 02 and 04;
// - exactly one end-of-file record (01), without data, and no record after
//   it;
// - no data byte written twice, with the extended segment (02) and linear
//   (04) addresses applied (a segment-addressed record wraps within its
//   64 Ki addresses, a linear one runs on);
// - in an image whose addresses count words (wordBytes 2 or 4), data records
//   of whole words;
// - no record line longer than kMaxCrLfLineChars, which the download would
//   send in pieces (or without its CR).
// On the file as a whole: at least one record line, an end-of-file record
// and at least one data byte; a read failure; and, from the file's first
// bytes, whether it is something else: an HTML page, an ELF file, a binary.
// A line that the download skips but that is a record all the same is
// reported too: one that begins with a byte-order mark and a colon, one that
// begins with white space (blanks, tabs) before its colon, and one of hex
// digits alone, as many as the shortest record has at least (white space
// around them aside). The other lines it skips
// (comments, blank lines) are counted.
//
// Line numbers count the LF-ended lines of the file as the upload reads them
// (the first line is 1); a piece of an over-long line, or the text after a
// 0x1A inside a line, is on the same line. Line 0 stands for the file as a
// whole. Nothing is printed: app/ formats the result.
//
// Addresses (of the ranges, the start, the findings) count the image's
// units: bytes, or words of wordBytes bytes (text/IntelHex.h).
//
// Memory stays small for any size of file: the bytes written are kept as
// merged, sorted address ranges, and only the first findings are kept as
// texts (all are counted).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/UploadFile.h"

// Findings kept as texts; the rest are only counted.
inline constexpr size_t kKeptImageFindings = 20;

struct ImageFinding {
    int64_t line = 0;     // 1 for the first line; 0 for the file as a whole
    std::string message;  // a text of text/ImageCheckMessages.h, filled in
};

// The addresses first to last (both included) are written (addresses count
// the image's units: bytes, or words of ImageCheckResult::wordBytes).
struct AddressRange {
    uint32_t first = 0;
    uint32_t last = 0;
};

enum class StartAddressKind {
    None,
    Segment,  // type 03: CS in the upper 16 bits of startAddress, IP in the lower
    Linear,   // type 05: EIP
};

struct ImageCheckResult {
    bool opened = false;                 // false: the file could not be opened
    std::vector<ImageFinding> findings;  // the first ones, in the order found
    int64_t findingCount = 0;            // all of them
    int64_t records = 0;                 // record lines, counted as the download counts them
    int64_t skippedLines = 0;            // lines the download skips, but those named in findings
    int64_t dataBytes = 0;               // data bytes of the data records (type 00)
    std::vector<AddressRange> ranges;    // written, merged where they touch, ascending
    StartAddressKind startKind = StartAddressKind::None;
    uint32_t startAddress = 0;  // of the last start address record
    std::string sha256;         // of the file's bytes as they are; empty when unknown
    uint32_t wordBytes = 1;     // bytes of the unit an address counts

    bool Sound() const { return opened && findingCount == 0; }
};

// Checks the lines of file from where it stands to its end. Takes no digest
// and does not look at the file's first bytes (CheckImageFile does).
// wordBytes: the bytes of the unit that the image's addresses count (1, 2
// or 4: text/IntelHex.h).
ImageCheckResult CheckImage(UploadFile& file, size_t keptFindings = kKeptImageFindings,
                            uint32_t wordBytes = 1);

// Opens path and checks it: what its first bytes look like, its lines, and
// the SHA-256 digest of all its bytes, in one reading (a pipe is checked as
// well as a file; the digest is empty when the file fails to read to its
// end). opened is false (and nothing else is filled in) when the file cannot
// be opened for upload.
ImageCheckResult CheckImageFile(const char* path, size_t keptFindings = kKeptImageFindings,
                                uint32_t wordBytes = 1);
