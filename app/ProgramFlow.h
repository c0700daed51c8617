#pragma once
// The order of a run once the command line has been parsed: open the port,
// run the chosen mode, close what was opened. Every error the port raises
// ends the run with "Error occurred: %s\n" on standard error and status 1,
// after the port has been closed by unwinding.
//
// Exit statuses: 0 after a complete download session and after a raw copy; 1
// after a download session that stopped on a protocol failure (its message is
// on standard output, and the port and the file are closed first); 1 for a
// data file that cannot be opened or read to its end ("Error reading file
// %s\n"; in download mode after the port has been closed, in raw mode at
// once), and for every port error. Console mode ends only when the operator
// interrupts it.
//
// With --check or --check-only the data file is checked first, before the
// port is opened (app/ImageCheckRun.h): a refused image ends the run with
// status 1; --check-only ends after the check, with 0 for a sound image.

#include "app/Settings.h"
#include "serial/PortPlatform.h"

// Returns the exit status (or does not return, for console mode and fatal
// errors).
int RunProgram(const Settings& settings);
// The same over a given platform layer (tests substitute a fake one).
int RunProgram(const Settings& settings, PortPlatform& platform);
