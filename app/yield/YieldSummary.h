#pragma once
// The figures of a yield summary, made once from a finished YieldSet and
// shown three ways (the terminal's tables, the CSV, the page), each from the
// same texts, so that the three never disagree.
//
// Rows, in this order: the whole set; each station (by name); each port of
// each station (by station, then port); each image (by its counted runs,
// most first); each day (UTC, in order); each outcome (by count, most
// first). Only records that touched a board (or tried to) make a group; a
// record that never did counts in the outcome rows alone.
//
// Within a group: runs are its counted runs, passed those complete, failed
// the others; aborted and no_board count those records. units counts the
// units with a counted run there; first- and last-pass yield are the shares
// of those units whose first, and last, counted run there (by started)
// passed, in % rounded half away from zero to a tenth. Cycle time's 50th and
// 90th percentiles are by nearest rank over the counted runs' seconds. A
// port's longest failure streak is its longest run of failed counted runs
// in a row; a port is flagged for a streak of 3 or more, or, with 10 counted
// runs or more, for a pass rate 20 points or more below that of its
// station's other ports together.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/yield/YieldSet.h"

enum class GroupKind { All, Station, Port, Image, Day, Outcome };

// "all", "station", "port", "image", "day", "outcome".
const char* GroupKindName(GroupKind kind);

struct GroupFigures {
    uint64_t runs = 0;
    uint64_t passed = 0;
    uint64_t failed = 0;
    uint64_t aborted = 0;
    uint64_t noBoard = 0;
    uint64_t units = 0;
    uint64_t firstPassed = 0;  // units whose first counted run passed
    uint64_t lastPassed = 0;
    uint64_t longestStreak = 0;
    std::optional<int64_t> p50;  // ms; nothing without counted runs
    std::optional<int64_t> p90;
};

struct YieldRow {
    GroupKind kind = GroupKind::All;
    std::string station;   // port rows' and station rows'
    std::string key;       // a port, an image's SHA-256, a day, an outcome
    std::string file;      // image rows: the file name of its latest record
    GroupFigures figures;  // an outcome row: its count in runs
    std::string flag;      // a port row that is flagged: the reason, "3 failures in a row"
    // An outcome row of a counted or aborted run: its share of those, in
    // tenths of a % (nothing for an outcome that never touched a board).
    std::optional<uint64_t> shareTenths;
};

// A stretch of time for the page's plot of yield and runs.
struct YieldBucket {
    int64_t start = 0;  // ms
    GroupFigures figures;
};

// How a station's cycle times spread (ms, nearest rank).
struct CycleSpread {
    std::string station;
    uint64_t runs = 0;
    int64_t least = 0;
    int64_t p10 = 0;
    int64_t p25 = 0;
    int64_t p50 = 0;
    int64_t p75 = 0;
    int64_t p90 = 0;
    int64_t most = 0;
};

struct YieldSummary {
    uint64_t records = 0;     // in the set, each once
    uint64_t duplicates = 0;  // records found again, counted once
    int64_t first = 0;        // the earliest and latest started (ms)
    int64_t last = 0;
    std::vector<YieldRow> rows;
    bool hourly = true;  // buckets of an hour, else of a day (sets longer than two days)
    std::vector<YieldBucket> buckets;
    std::vector<CycleSpread> cycles;  // per station, as the station rows
};

YieldSummary Summarize(const YieldSet& set);

// The shown forms of the figures, the same in every output.
// part of whole in % to a tenth, rounded half away from zero: "66.7"; the
// empty text when whole is 0.
std::string PercentText(uint64_t part, uint64_t whole);
std::string TenthsText(uint64_t tenths);
// Milliseconds as seconds with three decimals: "41.206"; empty for nothing.
std::string SecondsText(const std::optional<int64_t>& milliseconds);
// The name of a file without its folders (either slash).
std::string FileName(const std::string& path);
// The flag's reason for a port with that streak and rates (empty: none).
std::string FlagReason(uint64_t streak, uint64_t runs, uint64_t passed, uint64_t otherRuns,
                       uint64_t otherPassed);
