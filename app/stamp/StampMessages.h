#pragma once
// The messages of stamping (--stamp) and of its ledgers.

namespace messages {

inline constexpr const char* kInvalidStampFormat = "Invalid value for switch %s: %s (%s)\n";
inline constexpr const char* kStampNeedsLedger = "--stamp needs --stamp-ledger FILE\n";
inline constexpr const char* kStampDownloadOnly = "--stamp works only in download mode\n";
inline constexpr const char* kStampSwitchNeedsStampFormat = "%s is given without --stamp\n";
inline constexpr const char* kStampListAndCounterFormat =
    "--stamp-list takes the values from its file: %s cannot be given with it\n";
inline constexpr const char* kNothingToStampFormat =
    "%s: nothing to stamp at 0x%08X-0x%08X: the image has no data at 0x%08X-0x%08X\n";
inline constexpr const char* kStampChecksumFormat =
    "%s:%lld: the record that covers the stamp at 0x%08X-0x%08X has a wrong checksum; it is not "
    "repaired\n";
// A finding of the image (text/ImageCheck.h), on the line of the field's
// first record: the field's addresses and the bytes it holds ("4C 6F 61 64").
inline constexpr const char* kStampFieldNotBlankFormat =
    "the stamp field at 0x%08X-0x%08X holds %s, not all FF nor all 00: it is not overwritten "
    "without --stamp-overwrite";
inline constexpr const char* kCannotOpenStampFileFormat = "Can't open file %s for stamping\n";
inline constexpr const char* kListLineFormat = "%s:%lld: %s\n";
inline constexpr const char* kListValueTwiceFormat = "%s:%lld: %s is given already on line %lld\n";
inline constexpr const char* kListEmptyFormat = "%s: the list holds no value\n";
inline constexpr const char* kListUsedUpFormat =
    "%s: every value of the list is reserved already; no number is left for a board\n";
inline constexpr const char* kCounterPastLastFormat =
    "%s: the next number, %s, is past --stamp-last %s; no number is left for a board\n";
inline constexpr const char* kCounterAtEndFormat =
    "%s: the next number runs past what %s can hold; no number is left for a board\n";

inline constexpr const char* kLedgerCannotFormat = "Stamp ledger %s: %s\n";
inline constexpr const char* kLedgerLineFormat = "%s:%lld: %s\n";
inline constexpr const char* kLedgerUnfinishedLineFormat =
    "%s:%lld: the last line is unfinished (a write cut short before it was forced to disk); "
    "it is ignored\n";
inline constexpr const char* kNoPostgresLedgerFormat =
    "Stamp ledger %s: this build keeps ledgers in files only (it was built without "
    "PostgreSQL)\n";

// After a reservation, before the first record line goes out.
inline constexpr const char* kStampReservedFormat = "Stamp %s reserved for 0x%08X (%s)\n";

// --repeat with --stamp: the tally line with the board's number.
inline constexpr const char* kBoardTallyStampFormat =
    "Board %u (stamp %s): %s. Boards so far: %u complete, %u failed.\n";

}  // namespace messages
