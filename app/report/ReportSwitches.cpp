// --report and the names a record gives its run.

#include "app/CommandLineMessages.h"
#include "app/cli/SwitchTables.h"
#include "errors/FatalError.h"

namespace {

const SwitchRow kRows[] = {
    {"--report", "<file>", "appends one JSON record per board to the file",
     [](const SwitchUse& use, Settings& s) { s.reportFile = use.value; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
    // Each port's run of a gang has a name of its own.
    {"--run-id", "<id>", "names the run in its records (default: a generated one)",
     [](const SwitchUse& use, Settings& s) {
         if (*use.value == '\0') {
             FatalError(messages::kInvalidValueFormat, use.typed, use.value);
         }
         s.runId = use.value;
     },
     ForGangRun::PerPort, SwitchRules::OwnRules},
    {"--station", "<name>",
     "names the station in the records; with --yield, the stations to include",
     [](const SwitchUse& use, Settings& s) { s.station = use.value; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
};

}  // namespace

const SwitchTable kReportSwitches = MakeSwitchTable(kRows);
