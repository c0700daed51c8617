#pragma once
// The ledger's faults: stamped downloads by the real vantoir while their
// ledger fails under them, each run judged by its records, its messages and
// its exit status, and the ledger read at the end. Every number a board was
// given must be closed in the ledger as its record says (used after a
// complete board), or its run must have said that it was not (stamp.closed
// false, "Stamp ledger ...: stamp N could not be closed as ...", outcome
// ledger-error for a board that was complete); a number that could not be
// reserved is said (outcome ledger-error) and no board got records for it.
// A number left reserved without a word, or given twice, fails the soak.
//
// Two faults:
// - the database: a PostgreSQL server of the soak's own, stopped and
//   started again at random moments (now and then for longer than the
//   program's patience) while single runs and --repeat runs reserve and
//   close numbers in it; only where the server programs are installed;
// - a full disk: a file ledger on a harness::FullDisk with room for a few
//   boards' lines, runs one after another until the disk has refused twice;
//   the ledger must end with no torn line.

#include <cstdint>
#include <string>
#include <vector>

namespace soak {

// The problems found (none: empty); summary says what was run and counted.
std::vector<std::string> RunDatabaseFaults(uint64_t seed, int runs, int jobs, std::string& summary);
std::vector<std::string> RunFullDiskFaults(uint64_t seed, std::string& summary);

}  // namespace soak
