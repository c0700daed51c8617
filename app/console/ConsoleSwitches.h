#pragma once
// The switches that add to a console (--monitor, --reconnect, --log,
// --timestamps, --timestamps-iso): where they may be used.

#include "app/Settings.h"

// Ends the run through FatalError (status 1) when a console switch stands
// where it has no console to act on: --reconnect, --log, --timestamps and
// --timestamps-iso need -C or --monitor; --monitor needs download mode and
// one board (neither --repeat, --boards nor --gang).
void CheckConsoleSwitches(const Settings& settings);

namespace console_switch_text {
inline constexpr const char* kNeedsConsoleFormat =
    "Switch %s needs a console: it can only be used with -C or --monitor\n";
inline constexpr const char* kMonitorNeedsDownload =
    "Switch --monitor needs download mode: it cannot be used with -C or -R\n";
inline constexpr const char* kMonitorOneBoard =
    "Switch --monitor watches one board: it cannot be used with --repeat, --boards or --gang\n";
inline constexpr const char* kCannotOpenLogFormat = "Can't open log file %s\n";
}  // namespace console_switch_text
