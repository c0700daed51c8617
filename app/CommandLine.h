#pragma once
// The command line: the program's only source of configuration.

#include <cstdint>

#include "app/Settings.h"

// Fills settings from the arguments and prints the echo line. Ends the program
// itself for the usage text (no arguments, status 0), the short banner (-v,
// status 1) and every rejected argument (status 1).
void ParseCommandLine(int argumentCount, char** arguments, Settings& settings);

// Full banner and usage on standard output; exit status 0.
[[noreturn]] void PrintUsage(const char* programName, const Settings& settings);
// Short banner on standard output; exit status 1.
[[noreturn]] void PrintVersion();

// The -B conversion: leading white space, an optional sign, then decimal
// digits up to the first other character; no digits give 0. Values beyond
// the signed 32-bit range saturate at its limits.
int32_t ConvertDecimal(const char* text);
