#include "errors/FatalError.h"

#include <cstdarg>
#include <string>
#include <utility>

#include "errors/ProgramError.h"

void FatalError(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::string message = FormatTextList(format, args);
    va_end(args);
    throw ProgramError(std::move(message), 1);
}
