#include "app/cli/SwitchTables.h"

// The order of matching, of the tables' checks and of --help. The checks of
// the console, the gang, the fixture and the operator come before those of
// the modes; that of the events last, since it stops what is shown once the
// command line is accepted.
const std::vector<const SwitchTable*>& SwitchTables() {
    static const std::vector<const SwitchTable*> tables = {
        &kCoreSwitches,     &kPortSwitches,  &kConsoleSwitches, &kGangSwitches,  &kFixtureSwitches,
        &kOperatorSwitches, &kCheckSwitches, &kBoardSwitches,   &kStampSwitches, &kReportSwitches,
        &kFactorySwitches,  &kEventSwitches, &kYieldSwitches,
    };
    return tables;
}
