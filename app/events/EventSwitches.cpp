// --events: the run's story for programs (app/events/EventStream.h).

#include <cstring>

#include "app/cli/SwitchTables.h"
#include "app/events/EventMessages.h"
#include "errors/FatalError.h"
#include "text/Shown.h"

namespace {

// Standard output holds nothing but events with "-": a console and the
// operator's screen, which are for a person, cannot share it. Once the line is accepted, nothing
// shown reaches standard output any more, the echo line included.
void CheckEventSwitches(Settings& settings, const GivenSwitches& given) {
    if (!settings.eventsToOutput) {
        return;
    }
    if (settings.mode == ModeConsole) {
        FatalError(messages::kEventsToOutputWithFormat, given.Last("-C"));
    }
    if (settings.monitor) {
        FatalError(messages::kEventsToOutputWithFormat, given.Last("--monitor"));
    }
    if (settings.operatorScreen) {
        FatalError(messages::kEventsToOutputWithFormat, given.Last("--operator-screen"));
    }
    settings.commandsToError = true;
    DropShown();
}

const SwitchRow kRows[] = {
    {"--events", "<file>",
     "appends the run's events to the file, one JSON object a line (-: to standard output "
     "instead of the messages)",
     [](const SwitchUse& use, Settings& s) {
         s.eventsFile = use.value;
         s.eventsToOutput = std::strcmp(use.value, "-") == 0;
     },
     ForGangRun::Drop, SwitchRules::OwnRules},
    // Not for the user: given by a gang whose standard output holds events
    // to each of its runs.
    {"--commands-to-stderr", nullptr, nullptr,
     [](const SwitchUse&, Settings& s) { s.commandsToError = true; }, ForGangRun::PassOn,
     SwitchRules::OwnRules},
};

}  // namespace

const SwitchTable kEventSwitches = MakeSwitchTable(kRows, CheckEventSwitches);
