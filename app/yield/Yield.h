#pragma once
// The yield summary (--yield SOURCE...): every record of the sources, read
// as one set, counted by station, port, image, day and outcome; shown as
// tables on standard output, written as CSV (--csv FILE) and as a page of
// plots (--html FILE). No port is opened.
//
//   YieldSet       the records' facts, a few bytes each, duplicates dropped
//   YieldSources   record files and the factory's table, read as they stream
//   YieldSummary   the figures of each group
//   YieldTable, YieldCsv, YieldPage   the three ways they are shown
//
// A source that cannot be read ends the command (FatalError, status 1); a
// file that cannot be written does too, once the tables are shown. An empty
// set says so and is no error.

#include "app/Settings.h"

// The summary; its exit status (0: the summary was made).
int RunYield(const Settings& settings);
