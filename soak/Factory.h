#pragma once
// The factory's database in the soak: a PostgreSQL server of the soak's own
// (harness::PostgresServer), to which every run forwards its record
// (--report FILE --report-db URL, FILE one of kRecordFiles that runs share,
// gangs and parallel rounds included), while a chaos thread stops and
// starts the server at random moments and kills, with SIGKILL, runs of its
// own (downloads to boards of their own, with records) and --forward-records
// on the files, at random moments of their work.
//
// At the end, the server running, one --forward-records on each file; then
// every complete record of every file must be in the table exactly once,
// and no record in the table may be in no file.
//
// The database being away only adds the forward's own lines to a run's
// standard error (what waits, lines left), which the soak's judgement of
// the run leaves out (WithoutForwardLines), and at most a second to its
// time.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace soak {

inline constexpr int kRecordFiles = 4;
// What the forward may add to a run's time, in seconds.
inline constexpr double kForwardSeconds = 1.0;

// Starts the server and makes the files in folder. False, with why, when no
// server can be had (the server programs not installed): the soak then runs
// without the database.
bool StartFactory(const std::string& folder, std::string& why);
bool FactoryStarted();

// --report FILE --report-db URL for the run of seed (none without the
// factory).
std::vector<std::string> FactoryArguments(uint64_t seed);

// A run's standard error without the forward's own lines (each run's, or
// each of a gang's ports', marked "[port] " in front).
std::string WithoutForwardLines(const std::string& err);

// What the chaos did.
struct ChaosTally {
    int serverStops = 0;
    int runsKilled = 0;
    int forwardsKilled = 0;
    int runsEnded = 0;  // of its own runs, those that ended before their kill
};

// Stops and starts the server and kills runs and forwarders, at moments
// drawn from seed, until stop is set; the server is running when it
// returns.
void RunChaos(uint64_t seed, const std::atomic<bool>& stop, ChaosTally& tally);

// One --forward-records on each file, then the table against the files:
// the problems found (none: empty); summary says what was counted.
std::vector<std::string> CheckFactory(std::string& summary);

}  // namespace soak
