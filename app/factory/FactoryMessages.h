#pragma once
// The messages of the factory's database (--report-db, --forward-records).

namespace messages {

// The command line.
inline constexpr const char* kReportDbNeedsReport =
    "--report-db needs --report FILE: the records are kept there first\n";
inline constexpr const char* kForwardNeedsReportDbFormat =
    "%s needs --report FILE and --report-db URL\n";
inline constexpr const char* kNoRecordDatabaseFormat =
    "%s: this build cannot reach PostgreSQL (it was built without it); the records in the "
    "--report file can be forwarded from a machine that can, with --forward-records\n";

// A forward that could not reach the database: how many records wait, where,
// and why (the server's reason, or the wait that went unanswered).
inline constexpr const char* kRecordWaitsFormat = "1 record waits in %s for the database: %s\n";
inline constexpr const char* kRecordsWaitFormat = "%lld records wait in %s for the database: %s\n";
// The same while a run of several boards lets the database be until its next
// try.
inline constexpr const char* kRecordWaitsRetryFormat =
    "1 record waits in %s for the database (tried again in %lld s): %s\n";
inline constexpr const char* kRecordsWaitRetryFormat =
    "%lld records wait in %s for the database (tried again in %lld s): %s\n";
// A line that is left in the file.
inline constexpr const char* kLineRefusedFormat = "%s:%lld: the database refused the record: %s\n";
inline constexpr const char* kLineNotARecordFormat = "%s:%lld: not a record (%s): not forwarded\n";
inline constexpr const char* kCannotReadRecordsFormat =
    "Can't read report file %s for the database: %s\n";
inline constexpr const char* kCannotWriteMarkFormat = "Can't write %s: %s\n";

// --forward-records: the one line at its end, then each line left (FILE:LINE:
// why, on standard error, at most kMaxLinesShown), then how many more.
inline constexpr const char* kForwardedFormat =
    "Forwarded %lld records; the database had %lld already; %lld lines could not be "
    "forwarded\n";
inline constexpr const char* kMoreLinesFormat = "... and %lld more lines\n";
inline constexpr long long kMaxLinesShown = 20;

}  // namespace messages
