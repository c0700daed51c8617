#pragma once
// One run of the soak, drawn from a seed: an upload file, a board with a
// random mix of faults, the switches of vantoir, and what must come of it.
//
// The expectations are worked out here from the faults and from a plain
// reading of the file's rules (fuzz/Models.h), never by asking the program.

#include <cstdint>
#include <string>
#include <vector>

#include "sim/BoardConfig.h"

namespace soak {

// The legitimate endings of a download.
enum class Ending {
    Complete,       // verified download, status 0
    NoRecords,      // "Error: Refusing to continue ...", status 1
    Mismatch,       // "Mismatch: uploaded ...", status 1
    FlashNotAcked,  // "Error: Flash Write command was not acknowledged", status 1
    PortError,      // "Error occurred: COMPort: ..." on standard error, status 1
};

const char* EndingName(Ending ending);

struct Plan {
    uint64_t seed = 0;
    std::string file;         // the upload file's bytes
    sim::BoardConfig board;   // the board and its faults
    bool writeFlash = false;  // -W
    bool sendStart = true;    // not -L
    bool debug = false;       // -D
    std::string faults;       // the faults drawn, for the report
    // --stamp kStampField with the soak's one ledger: the file's first line
    // is kStampRecord, whose bytes the field lies in.
    bool stamped = false;

    // What must happen.
    Ending ending = Ending::Complete;
    std::string records;    // the bytes of the record lines as they must reach the board
    int recordLines = 0;    // lines vantoir counts
    int boardCount = 0;     // lines the board counts (and reports, unless told to lie)
    int reportedCount = 0;  // the number in the board's answer to "C"
    std::vector<std::string> shownMessages;  // "-" lines that must be shown (without "-")
    double allowedSeconds = 0;               // the protocol's own waits, generously
};

// The field of the stamped runs, and the record line (as the file has it,
// without its line end) that holds it: 16 bytes of 0xFF at address 0.
inline constexpr const char* kStampField = "0x4:u32le";
inline constexpr uint32_t kStampAddress = 4;
inline constexpr size_t kStampBytes = 4;
std::string StampRecord();

// Draws the run of seed: a stamped one for every fourth seed (seed % 4 == 1),
// with a file that begins with StampRecord() and faults drawn as for the
// others.
Plan MakePlan(uint64_t seed);

// A clean run (no faults) of a file of its own, for the parallel boards;
// stamped, its file begins with StampRecord().
Plan MakeCleanPlan(uint64_t seed, bool stamped = false);

// The ports of a gang run (--gang): one file and one set of switches for
// all, each port's board with faults of its own: the first port's drawn as
// for MakePlan(seed), the second's likewise but always with a hang-up, the
// last one's none.
inline constexpr int kGangPorts = 3;
std::vector<Plan> MakeGangPlans(uint64_t seed);

}  // namespace soak
