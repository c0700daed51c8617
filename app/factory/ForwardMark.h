#pragma once
// ForwardMark: how far the database has a record file, kept beside it in
// FILE.forwarded, so that a forward reads only what came after (and its cost
// does not grow with the file).
//
// The mark is written only after the records before it were committed, and
// forced to disk; several forwarders may write it at once (each writes a
// mark it has earned, so any one of them is true). It names the offset
// after the last line forwarded, that line's number, and the SHA-256 of the
// bytes just before the offset (at most kTailBytes): a file that is shorter
// than the mark, or whose bytes there differ (rotated, truncated, replaced)
// is read from its start, as is one whose mark is missing or does not
// parse. Reading again is never wrong: the table stores each record once.

#include <cstdint>
#include <string>

struct ForwardMark {
    int64_t offset = 0;  // bytes of the file forwarded
    int64_t line = 0;    // lines of the file forwarded
};

inline constexpr int64_t kTailBytes = 64;

// The mark's file beside the record file.
std::string ForwardMarkPath(const std::string& recordFile);

// The mark of recordFile, checked against the file as it is now; the
// file's start when there is none that holds.
ForwardMark ReadForwardMark(const std::string& recordFile);

// Writes mark for recordFile (whose bytes before mark.offset are read for
// it). False, with why, when it cannot be written or forced to disk.
bool WriteForwardMark(const std::string& recordFile, const ForwardMark& mark, std::string& why);
