#include "app/console/ConsoleSwitches.h"

#include "errors/FatalError.h"

void CheckConsoleSwitches(const Settings& settings) {
    using namespace console_switch_text;
    if (settings.monitor) {
        if (settings.mode != ModeDownload) {
            FatalError("%s", kMonitorNeedsDownload);
        }
        if (settings.repeat || settings.gang != nullptr) {
            FatalError("%s", kMonitorOneBoard);
        }
    }
    if (settings.mode == ModeConsole || settings.monitor) {
        return;
    }
    if (settings.reconnect) {
        FatalError(kNeedsConsoleFormat, "--reconnect");
    }
    if (settings.logFile != nullptr) {
        FatalError(kNeedsConsoleFormat, "--log");
    }
    if (settings.lineStamps != kLineStampsNone) {
        FatalError(kNeedsConsoleFormat, settings.lineStamps == kLineStampsDateTime
                                            ? "--timestamps-iso"
                                            : "--timestamps");
    }
}
