#pragma once
// The yield summary as CSV (--csv FILE): the header line, then one row per
// group, in the summary's order, each field quoted as RFC 4180 says (only
// when it holds a comma, a quote, CR or LF; quotes doubled) and each line
// ended in CR LF.
//   group    all, station, port, image, day or outcome
//   station  port and station rows' (empty for the others, and for records
//            without a station)
//   key      the port, the image's whole SHA-256, the day (YYYY-MM-DD), the
//            outcome's name; empty for all and station
// An outcome row fills runs alone; longest_failure_streak is a port row's
// only; a figure of a group without counted runs is empty.

#include <string>
#include <vector>

#include "app/yield/YieldSummary.h"

inline constexpr const char* kYieldCsvHeader =
    "group,station,key,runs,units,passed,failed,aborted,no_board,first_pass_yield,"
    "last_pass_yield,p50_seconds,p90_seconds,longest_failure_streak";

// The row's fields, as the CSV has them (unquoted).
std::vector<std::string> CsvFields(const YieldRow& row);
// field quoted as RFC 4180 says, when it must be.
std::string CsvQuoted(const std::string& field);
// The whole CSV text.
std::string YieldCsv(const YieldSummary& summary);
