#pragma once
// The command line: the program's only source of configuration.

#include "app/Settings.h"

// Fills settings from the arguments and prints the echo line. Ends the program
// itself for the usage text (no arguments, status 0), the short banner (-v,
// status 1) and every rejected argument (status 1).
void ParseCommandLine(int argumentCount, char** arguments, Settings& settings);

// Full banner and usage on standard output; exit status 0.
[[noreturn]] void PrintUsage(const char* programName, const Settings& settings);
// Short banner on standard output; exit status 1.
[[noreturn]] void PrintVersion();
