#include "app/console/ConsoleSwitches.h"

#include "app/cli/SwitchTables.h"
#include "app/console/ConsoleMessages.h"
#include "errors/FatalError.h"

namespace {

void CheckConsoleSwitches(Settings& settings, const GivenSwitches&) {
    if (settings.monitor) {
        if (settings.mode != ModeDownload) {
            FatalError("%s", messages::kMonitorNeedsDownload);
        }
        if (settings.repeat || settings.gang != nullptr) {
            FatalError("%s", messages::kMonitorOneBoard);
        }
    }
    if (settings.mode == ModeConsole || settings.monitor) {
        return;
    }
    if (settings.reconnect) {
        FatalError(messages::kNeedsConsoleFormat, "--reconnect");
    }
    if (settings.logFile != nullptr) {
        FatalError(messages::kNeedsConsoleFormat, "--log");
    }
    if (settings.lineStamps != kLineStampsNone) {
        FatalError(messages::kNeedsConsoleFormat, settings.lineStamps == kLineStampsDateTime
                                                      ? "--timestamps-iso"
                                                      : "--timestamps");
    }
}

const SwitchRow kRows[] = {
    {"--monitor", nullptr, "after a complete download, goes on as a console on the same port",
     [](const SwitchUse&, Settings& s) { s.monitor = true; }},
    {"--reconnect", nullptr, "console: waits for a port that went away to come back",
     [](const SwitchUse&, Settings& s) { s.reconnect = true; }},
    {"--log", "<file>", "console: appends everything the board sends to the file",
     [](const SwitchUse& use, Settings& s) { s.logFile = use.value; }},
    {"--timestamps", nullptr, "console: the seconds since the start before each line",
     [](const SwitchUse&, Settings& s) { s.lineStamps = kLineStampsElapsed; }},
    {"--timestamps-iso", nullptr, "console: the local date and time before each line",
     [](const SwitchUse&, Settings& s) { s.lineStamps = kLineStampsDateTime; }},
};

}  // namespace

const SwitchTable kConsoleSwitches = MakeSwitchTable(kRows, CheckConsoleSwitches);
