#include "text/Shown.h"

#include <cstdarg>
#include <cstdio>

namespace {

// The program has one thread that shows anything.
uint64_t shown = 0;

void Count(int written) {
    if (written > 0) {
        shown += static_cast<uint64_t>(written);
    }
}

}  // namespace

void Show(const char* text) {
    Count(std::printf("%s", text));
}

void ShowFormatted(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Count(std::vprintf(format, arguments));
    va_end(arguments);
}

uint64_t ShownBytes() {
    return shown;
}
