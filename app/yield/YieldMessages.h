#pragma once
// The messages of the yield summary (--yield).

namespace messages {

// Standard error: lines that are no records, at most kMostSkippedSaid.
inline constexpr const char* kSkippedLineFormat = "%s:%llu: not a record (%s); skipped\n";
inline constexpr const char* kTornLineFormat =
    "%s:%llu: the last line is torn (it has no line end); skipped\n";
inline constexpr const char* kSkippedRowFormat = "%s: record %s: not a record (%s); skipped\n";
inline constexpr const char* kMoreSkippedFormat = "... and %llu more lines skipped\n";
inline constexpr unsigned kMostSkippedSaid = 20;

// A source that cannot be read ends the summary (status 1).
inline constexpr const char* kCannotReadSourceFormat = "Can't read records from %s: %s\n";
inline constexpr const char* kNoDatabaseSourceFormat =
    "Can't read records from %s: this build reads record files only (it was built without "
    "PostgreSQL)\n";
inline constexpr const char* kCannotWriteFormat = "Can't write %s\n";

// Standard output.
inline constexpr const char* kSourcesFormat = "Sources: %s\n";
inline constexpr const char* kFiltersFormat = "Filters: %s\n";
inline constexpr const char* kSpanFormat =
    "Set: %llu records of downloads, started %s to %s UTC%s\n";
inline constexpr const char* kDuplicatesFormat = " (%llu found twice, counted once)";
inline constexpr const char* kEmptySet = "The set holds no record of a download.\n";
inline constexpr const char* kLegend =
    "FPY, LPY: first- and last-pass yield, % of units; p50, p90: cycle time, seconds;\n"
    "streak: longest run of failures; share: % of the counted and aborted runs.\n";

}  // namespace messages
