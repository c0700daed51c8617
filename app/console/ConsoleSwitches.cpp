#include "app/console/ConsoleSwitches.h"

#include "app/console/ConsoleMessages.h"
#include "errors/FatalError.h"

void CheckConsoleSwitches(const Settings& settings) {
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
