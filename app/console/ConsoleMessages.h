#pragma once
// The messages of a console's switches (--monitor, --reconnect, --log,
// --timestamps, --timestamps-iso).

namespace messages {

// A console switch where there is no console (the switch as named).
inline constexpr const char* kNeedsConsoleFormat =
    "Switch %s needs a console: it can only be used with -C or --monitor\n";
inline constexpr const char* kMonitorNeedsDownload =
    "Switch --monitor needs download mode: it cannot be used with -C or -R\n";
inline constexpr const char* kMonitorOneBoard =
    "Switch --monitor watches one board: it cannot be used with --repeat, --boards or --gang\n";
// --log: the log file cannot be opened for appending.
inline constexpr const char* kCannotOpenLogFormat = "Can't open log file %s\n";

}  // namespace messages
