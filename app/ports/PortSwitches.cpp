#include "app/cli/SwitchTables.h"
#include "app/ports/PortListing.h"

namespace {

const SwitchRow kRows[] = {
    {"--list-ports", nullptr, "lists this machine's serial ports",
     [](const SwitchUse&, Settings&) { PrintPortList(); }, ForGangRun::PassOn,
     SwitchRules::Request},
};

}  // namespace

const SwitchTable kPortSwitches = MakeSwitchTable(kRows);
