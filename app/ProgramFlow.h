#pragma once
// The order of a run once the command line has been parsed: open the port,
// run the chosen mode, close what was opened. Every error the port raises
// ends the run with "Error occurred: %s\n" on standard error and status 1.

#include "app/Settings.h"

// Returns the exit status (or does not return, for console mode and fatal
// errors).
int RunProgram(const Settings& settings);
