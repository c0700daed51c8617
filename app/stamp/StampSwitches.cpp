// --stamp and its companions, kept as given; app/stamp/StampPlan.h reads
// them once the command line has been accepted and echoed, before anything
// is opened or recorded. --ledger-list answers a request where it stands
// (app/stamp/LedgerListing.h).

#include "app/cli/SwitchTables.h"
#include "app/stamp/LedgerListing.h"

namespace {

const SwitchRow kRows[] = {
    {"--stamp", "<address>:<format>", "writes a number of its own into each board's image",
     [](const SwitchUse& use, Settings& s) { s.stamp = use.value; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
    {"--stamp-ledger", "<ledger>", "where the numbers handed out are kept",
     [](const SwitchUse& use, Settings& s) { s.stampLedger = use.value; }, ForGangRun::PassOn,
     SwitchRules::OwnRules, false, true},
    {"--stamp-start", "<value>", "the first number of the series",
     [](const SwitchUse& use, Settings& s) { s.stampStart = use.value; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
    {"--stamp-step", "<n>", "the step from one number to the next",
     [](const SwitchUse& use, Settings& s) { s.stampStep = use.value; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
    {"--stamp-last", "<value>", "the last number of the series",
     [](const SwitchUse& use, Settings& s) { s.stampLast = use.value; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
    {"--stamp-list", "<file>", "the numbers to hand out, one a line",
     [](const SwitchUse& use, Settings& s) { s.stampList = use.value; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
    {"--stamp-overwrite", nullptr, "lets --stamp write over a field that is not blank",
     [](const SwitchUse&, Settings& s) { s.stampOverwrite = true; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
    {"--ledger-list", "<ledger>", "lists the numbers of a stamp ledger that are not used",
     [](const SwitchUse& use, Settings&) { PrintLedgerList(use.value); }, ForGangRun::PassOn,
     SwitchRules::Request},
};

}  // namespace

const SwitchTable kStampSwitches = MakeSwitchTable(kRows);
