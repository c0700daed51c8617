#include "app/ProgramFlow.h"

#include <cstdio>

int RunProgram(const Settings&) {
    std::fprintf(stderr, "vantoir: this build cannot talk to a board yet\n");
    return 1;
}
