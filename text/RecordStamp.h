#pragma once
// RecordStamp: writes a value into the field of an Intel-HEX image as its
// record lines go past (--stamp).
//
// It follows the image's addresses as the board does (an extended segment
// address, type 02, wraps each record within its 64 KiB; an extended linear
// address, type 04, runs on), and in each data record (type 00) whose bytes
// fall in the field replaces those bytes' hex digits and the record's
// checksum (upper-case digits). Every other line, and every character of a
// covering line but those, stays as it was. A line that is not a well-formed
// record is left alone.
//
// Before a download, CheckStampCoverage reads the image as the download reads
// it and says whether every byte of the field is data of the image, whether
// a record covering it has a wrong checksum of its own (such an image is
// refused, never repaired), and what the field holds: a stamp is meant for a
// blank field, never for code or data.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text/IntelHex.h"
#include "text/RecordLineFilter.h"
#include "text/StampField.h"
#include "text/UploadFile.h"

class RecordStamp : public RecordLineFilter {
  public:
    explicit RecordStamp(const StampSpec& spec);

    // The field's bytes for the next pass over the image (StampFieldBytes),
    // which starts again from address 0.
    void Arm(const std::vector<uint8_t>& fieldBytes);
    // No value armed: Filter raises std::logic_error on a line it would
    // change, so that an unstamped image never goes out by mistake.
    void Disarm();

    void Filter(char* line, size_t length) override;

    // What a line tells of the field, without changing it (for the coverage
    // check): which field bytes it covers and what they hold (set in seen,
    // both width long), and whether it covers any with a wrong checksum.
    struct FieldSeen {
        std::vector<bool> covered;
        std::vector<uint8_t> bytes;
    };
    struct LineCoverage {
        bool covers = false;
        bool checksumWrong = false;
    };
    LineCoverage Look(const char* line, size_t length, FieldSeen& seen);

    // The image's addresses start again from 0.
    void Restart();

  private:
    // Where a data record's bytes go.
    struct Placed {
        HexSpan spans[2];
        int count = 0;
    };
    bool Parse(const char* line, size_t length, HexRecord& record) const;
    // Decodes the whole record (every digit a hex digit, the count right).
    bool Whole(const char* line, HexRecord& record);
    bool Place(const HexRecord& record, Placed& placed) const;
    // The field byte index of the record's data byte i, or -1 outside it.
    long FieldIndex(const Placed& placed, size_t i) const;
    void TakeAddress(const char* line, HexRecord& record);

    StampSpec spec;
    uint64_t fieldBegin;  // byte positions of the field (text/IntelHex.h)
    uint64_t fieldEnd;
    std::vector<uint8_t> field;
    bool armed = false;
    HexAddressing addressing;
    uint8_t bytes[intel_hex::kRecordFrameBytes + 255];
};

struct StampCoverage {
    bool opened = false;
    // The first and last byte of the field that no record covers, when some
    // byte is not covered (uncoveredCount > 0).
    size_t uncoveredCount = 0;
    uint32_t firstUncovered = 0;
    uint32_t lastUncovered = 0;
    // The first line (1 for the first) of a covering record whose checksum is
    // wrong; 0 when none.
    int64_t badChecksumLine = 0;
    // The field's bytes as the image has them (as the last record to write
    // each left it; 0 where none does), and the line of the first record
    // that covers any of them (0 when none does).
    std::vector<uint8_t> bytes;
    int64_t fieldLine = 0;

    bool Sound() const { return opened && uncoveredCount == 0 && badChecksumLine == 0; }
    // Whether the field is blank, so that a stamp overwrites nothing: all
    // its bytes 0xFF (erased flash) or all 0x00 (a zeroed placeholder).
    bool Blank() const;
};

// Reads the image at path as the download reads it (line numbers as
// ImageCheck counts them) and checks the field's coverage.
StampCoverage CheckStampCoverage(const char* path, const StampSpec& spec);
