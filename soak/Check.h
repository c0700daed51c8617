#pragma once
// Running one planned download (or eight at once) with the real vantoir
// binary against kelvor-sim boards, and judging how it ended.

#include <string>
#include <vector>

#include "soak/Plan.h"

namespace soak {

inline constexpr int kParallelBoards = 8;

struct Verdict {
    bool ok = false;
    std::string ending;  // the ending seen ("complete", ..., or "unrecognised")
    std::string detail;  // what was wrong
    double seconds = 0;  // how long vantoir ran
};

// The exit status the protocol failures (no record lines, a count mismatch, a
// flash not acknowledged) must end with; 1 unless set before any run.
void SetProtocolFailureStatus(int status);

// The soak's one ledger, which every stamped run (Plan::stamped) reserves
// from; set before any run.
void SetStampLedger(const std::string& path);

// After every run: what the ledger holds against what the boards received.
// No number was reserved twice, none went onto two boards, every number a
// board holds was reserved by the run that showed it and closed as that
// run ended. The problems found (none: empty); summary says what was
// counted.
std::vector<std::string> CheckStampLedger(std::string& summary);

// Runs plan's download on a board of its own and checks it.
Verdict RunAndCheck(const Plan& plan);

// Runs the clean plans at once, each to a board of its own; every one must
// complete and each board must have received exactly its own download.
std::vector<Verdict> RunParallelAndCheck(const std::vector<Plan>& plans);

// Runs the plans (of MakeGangPlans) as one gang, each port to a board of its
// own; each port's outcome in the summary must be its plan's, each board
// must have received exactly the download (or the part of it) its faults
// allow, and the gang's status must be 0 only when every port completed.
std::vector<Verdict> RunGangAndCheck(const std::vector<Plan>& plans);

}  // namespace soak
