#include "app/CommandLine.h"

void ParseCommandLine(int, char**, Settings&) {}
