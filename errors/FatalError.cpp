#include "errors/FatalError.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void FatalError(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::exit(1);
}
