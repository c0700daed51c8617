#pragma once
// The run record's messages (--report).

namespace messages {

// --report: the record file cannot be opened for appending, or written.
inline constexpr const char* kCannotOpenReportFormat = "Can't open report file %s\n";
inline constexpr const char* kCannotWriteReportFormat = "Can't write report file %s\n";

}  // namespace messages
