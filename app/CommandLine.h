#pragma once
// The command line: the program's only source of configuration.

#include <cstdint>

#include "app/Settings.h"

// Fills settings from the arguments and prints the echo line. Ends the program
// itself for the usage text (no arguments, --help, -h, -?: status 0), the
// short banner (-v, status 1), the version line (--version, status 0), the
// list of serial ports (--list-ports, status 0); every rejected argument
// ends the run through FatalError (status 1). Like every switch these are matched whole, ignoring
// the case of A to Z; arguments after them are not looked at.
void ParseCommandLine(int argumentCount, char** arguments, Settings& settings);

// Full banner and usage on standard output; exit status 0.
[[noreturn]] void PrintUsage(const char* programName, const Settings& settings);
// Short banner on standard output; exit status 1.
[[noreturn]] void PrintVersion();
// "Vantoir <version>" on standard output; exit status 0.
[[noreturn]] void PrintVersionLine();

// The -B conversion: leading white space, an optional sign, then decimal
// digits up to the first other character; no digits give 0. Values beyond
// the signed 32-bit range saturate at its limits.
int32_t ConvertDecimal(const char* text);
