#pragma once
// The switches that add to a console (--monitor, --reconnect, --log,
// --timestamps, --timestamps-iso), as the table kConsoleSwitches
// (app/cli/SwitchTables.h). Its check ends the run through FatalError
// (status 1) when a console switch stands where it has no console to act on:
// --reconnect, --log, --timestamps and --timestamps-iso need -C or
// --monitor; --monitor needs download mode and one board (neither --repeat,
// --boards nor --gang).
