#pragma once
// vantoir --forward-records --report FILE --report-db URL: what a station
// runs at start-up, or from a timer after an outage. It reads the whole of
// FILE (the mark beside it is not asked, only moved on), forwards every
// complete record the database lacks (RecordForwarder.h: ForwardChunk; a
// transaction for each chunk of kForwardChunkBytes, so that a file of any
// length takes bounded memory), and ends with one line on standard output:
//   Forwarded N records; the database had M already; K lines could not be forwarded
// then, on standard error, FILE:LINE and why for each line left, at most 20,
// and how many more. No port is opened. Two of these at once on one FILE,
// or one while runs append to it, store every record once and lose none.
//
// The connection waits as long as the address's connect_timeout says (10 s
// when it says nothing); each answer at most a minute. The database away:
// "N records wait in FILE for the database: why" on standard error.

#include <cstddef>
#include <string>

inline constexpr size_t kForwardChunkBytes = 16 * 1024 * 1024;

struct ForwardRecordsEnd {
    int status = 0;       // 0 when every complete record of FILE is in the database
    std::string message;  // for standard error, line ends included
};

ForwardRecordsEnd ForwardRecords(const std::string& file, const std::string& address);
