#pragma once
// StampPlan: what the stamp switches ask for (--stamp, --stamp-ledger,
// --stamp-start, --stamp-step, --stamp-last, --stamp-list), read and checked
// once the command line is parsed, and the series of numbers it gives.
//
// The next number of a counter is one step past the largest ever reserved in
// the ledger, or --stamp-start when that is larger; past --stamp-last (or
// past what the field holds) there is none. A list (--stamp-list FILE: one
// value a line, each once) gives its first value that no reservation names.

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "text/ImageCheck.h"
#include "text/StampField.h"

struct StampPlan {
    StampSpec spec;
    std::string ledger;  // as given to --stamp-ledger
    StampValue start;
    uint64_t step = 1;
    std::optional<StampValue> last;
    std::string listPath;          // empty: a counter
    std::vector<StampValue> list;  // the values of the list, in order
    bool overwrite = false;        // a field that is not blank may be stamped
};

// What a ledger holds, as far as the series is concerned.
struct LedgerValues {
    std::optional<StampValue> largest;
    std::set<std::vector<uint8_t>> named;  // counters of every value reserved
    void Take(const StampValue& value);
};

// The plan of settings; nothing without --stamp. A switch or a list that is
// refused ends the run through FatalError (status 1).
std::optional<StampPlan> ReadStampPlan(const Settings& settings);

// The next value of the series after what the ledger holds; false with the
// message for standard error when none is left.
bool NextStampValue(const StampPlan& plan, const LedgerValues& held, StampValue& next,
                    std::string& why);

// Ends the run (FatalError, status 1) unless the data file has data at every
// byte of the field, each covering record with its checksum right. Returns
// the stamp's findings on the image, as the image check gives its own: the
// field holds what a stamp would overwrite (bytes neither all 0xFF nor all
// 0x00), unless the plan allows it; none when the field is fit to stamp.
std::vector<ImageFinding> CheckStampImage(const char* dataFile, const StampPlan& plan);

// The ledger's name as records and messages show it: a postgresql://
// address with its password as *** (text/DatabaseAddress.h).
std::string LedgerShownName(const std::string& ledger);
