#pragma once
// The image-check run's messages (app/check/ImageCheckRun.h).

namespace messages {

// The image check (--check, --check-only). Each finding goes to standard
// error as "FILE:LINE: message" ("FILE: message" for the file as a whole),
// the first kKeptImageFindings (text/ImageCheck.h) of them, then the count
// of the rest; then one summary line: "image refused" on standard error,
// "image OK" on standard output. Scripts grep these texts: keep them stable.
inline constexpr const char* kCheckNeedsDownload =
    "Switch --check needs download mode: it cannot be used with -C or -R\n";
inline constexpr const char* kImageFindingFormat = "%s:%lld: %s\n";
inline constexpr const char* kImageFileFindingFormat = "%s: %s\n";
inline constexpr const char* kImageMoreFindingsFormat = "... and %lld more %s\n";
inline constexpr const char* kImageRefusedFormat = "%s: image refused: %lld %s\n";
// FILE, records, the lines skipped (kImageLinesSkippedFormat, or nothing
// when there are none), data bytes, the ranges written, the start address,
// the digest.
inline constexpr const char* kImageOkFormat =
    "%s: image OK: %lld records%s, %lld data bytes at %s, %s, SHA-256 %s\n";
inline constexpr const char* kImageLinesSkippedFormat = ", %lld %s skipped";
inline constexpr const char* kImageRangeFormat = "0x%08X-0x%08X";
// After the ranges of an image whose addresses count words (--word-size).
inline constexpr const char* kImageWordAddressesFormat = " (%u-bit word addresses)";
inline constexpr const char* kImageMoreRangesFormat = " and %lld more ranges";
inline constexpr const char* kImageStartSegmentFormat = "start %04X:%04X (CS:IP)";
inline constexpr const char* kImageStartLinearFormat = "start 0x%08X (EIP)";
inline constexpr const char* kImageNoStartAddress = "no start address";
inline constexpr const char* kImageDigestUnknown = "unknown";
// --image-sha256: the data's digest is not the one expected (a finding of
// the file as a whole).
inline constexpr const char* kImageDigestFindingFormat = "SHA-256 is %s, not the expected %s";
inline constexpr const char* kImageSha256NeedsDownload =
    "Switch --image-sha256 needs download mode: it cannot be used with -C or -R\n";

}  // namespace messages
