// --yield and the switches of its summary: the filters' times, the CSV and
// the page. --station, the records' own switch, is its stations' filter.

#include "app/CommandLineMessages.h"
#include "app/cli/SwitchTables.h"
#include "app/yield/YieldTime.h"
#include "errors/FatalError.h"

namespace {

constexpr const char* kNeedsYieldFormat = "Switch %s needs --yield <source>...\n";

const char* CheckedTime(const SwitchUse& use) {
    if (!FilterTime(use.value)) {
        FatalError(messages::kInvalidValueFormat, use.typed, use.value);
    }
    return use.value;
}

void CheckYieldSwitches(Settings& settings, const GivenSwitches& given) {
    if (!settings.yieldSources.empty()) {
        return;
    }
    const char* orphan = given.FirstOf({"--since", "--until", "--csv", "--html"});
    if (orphan != nullptr) {
        FatalError(kNeedsYieldFormat, orphan);
    }
}

const SwitchRow kRows[] = {
    // Its sources may be databases' addresses: the echo masks their passwords.
    {"--yield", "<source>...",
     "summarises the records of files and databases: yield, failures; opens no port",
     [](const SwitchUse& use, Settings& s) { s.yieldSources.emplace_back(use.value); },
     ForGangRun::PassOn, SwitchRules::OwnRules, true, true},
    {"--since", "<time>", "--yield: the records started at or after YYYY-MM-DD[THH:MM[:SS]Z] (UTC)",
     [](const SwitchUse& use, Settings& s) { s.since = CheckedTime(use); }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
    {"--until", "<time>", "--yield: the records started before the time",
     [](const SwitchUse& use, Settings& s) { s.until = CheckedTime(use); }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
    {"--csv", "<file>", "--yield: writes the figures as CSV",
     [](const SwitchUse& use, Settings& s) { s.csvFile = use.value; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
    {"--html", "<file>", "--yield: writes a page of the figures and their plots",
     [](const SwitchUse& use, Settings& s) { s.htmlFile = use.value; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
};

}  // namespace

const SwitchTable kYieldSwitches = MakeSwitchTable(kRows, CheckYieldSwitches);
