#include "errors/FatalError.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void FatalError(const char* format, ...) {
    // What standard output still holds was printed before the error: out
    // first, so that a log of both streams keeps the order of events.
    std::fflush(stdout);
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::exit(1);
}
