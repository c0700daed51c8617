#pragma once
// The command line: the program's only source of configuration.

#include <cstdint>
#include <string>
#include <vector>

#include "app/Settings.h"

// Fills settings from the arguments and prints the echo line. Ends the program
// itself for the usage text (no arguments, --help, -h, -?: status 0), the
// short banner (-v, status 1), the version line (--version, status 0), the
// list of serial ports (--list-ports, status 0); every rejected argument
// ends the run through FatalError (status 1). Like every switch these are
// matched whole, ignoring the case of A to Z; arguments after them are not
// looked at. --check with console or raw mode is rejected (status 1) once
// every argument has been applied.
// A gang's switches are checked here too: a list that SplitGangPorts refuses,
// a mode other than download, or -P beside --gang end the run (status 1);
// the ports of an accepted list are in settings.gangPorts.
// beforeEcho, when given, is called once the command line has been accepted,
// just before the echo line is printed.
void ParseCommandLine(int argumentCount, char** arguments, Settings& settings,
                      void (*beforeEcho)() = nullptr);

// The command line of one run of a gang, from the gang's own (already
// accepted): program, then every argument as given except each --gang with
// its value and --check (the gang checks the image once, before any run
// starts), "-P port" standing where the first --gang stood, a --run-id value
// with "@port" added (each run has a name of its own), and last
// (after "--commands-to-stderr" when the gang's events fill its standard
// output) "--gang-member", whose value, the number of the run's channel of events,
// the gang adds when it starts the run (process/ChildProcesses.h). A run of
// a gang shows no echo line, no prompt and no progress line: the gang shows
// its own, and the progress from the run's events.
std::vector<std::string> GangMemberArguments(int argumentCount, char** arguments,
                                             const std::string& program, const std::string& port);

// Full banner and usage on standard output; exit status 0.
[[noreturn]] void PrintUsage(const char* programName, const Settings& settings);
// --help: the usage as above, then every further switch with one line each;
// exit status 0.
[[noreturn]] void PrintHelp(const char* programName);
// Short banner on standard output; exit status 1.
[[noreturn]] void PrintVersion();
// "Vantoir <version>" on standard output; exit status 0.
[[noreturn]] void PrintVersionLine();

// The -B conversion: leading white space, an optional sign, then decimal
// digits up to the first other character; no digits give 0. Values beyond
// the signed 32-bit range saturate at its limits.
int32_t ConvertDecimal(const char* text);
