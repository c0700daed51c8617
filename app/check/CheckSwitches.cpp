// --check, --check-only, and the digest a gang gives its runs.

#include "app/check/CheckMessages.h"
#include "app/cli/SwitchTables.h"
#include "errors/FatalError.h"

namespace {

constexpr const char* kCheckOnlyNeedsFile = "Switch --check-only needs -F <datafile>\n";

// --check-only checks the file whatever the mode; --check needs downloads,
// since console mode never reads the data file and raw mode copies any file.
void CheckCheckSwitches(Settings& settings, const GivenSwitches& given) {
    if (settings.checkOnly != 0) {
        if (given.Last("-F") == nullptr) {
            FatalError("%s", kCheckOnlyNeedsFile);
        }
        return;
    }
    if (settings.checkImage != 0 && settings.mode != ModeDownload) {
        FatalError("%s", messages::kCheckNeedsDownload);
    }
}

const SwitchRow kRows[] = {
    // The gang checks the image once, before any run starts.
    {"--check", nullptr, "checks the datafile first; a refused image is never sent",
     [](const SwitchUse&, Settings& s) { s.checkImage = 1; }, ForGangRun::Drop},
    {"--check-only", nullptr, "checks the datafile, prints the result, opens no port",
     [](const SwitchUse&, Settings& s) { s.checkOnly = 1; }},
    // Not for the user: given by a gang to each of its runs.
    {"--checked-image", "<sha256>", nullptr,
     [](const SwitchUse& use, Settings& s) { s.checkedImage = use.value; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
};

}  // namespace

const SwitchTable kCheckSwitches = MakeSwitchTable(kRows, CheckCheckSwitches);
