#include "text/Shown.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

// The program has one thread that shows anything.
uint64_t shown = 0;
bool dropped = false;

void Count(int written) {
    if (written > 0) {
        shown += static_cast<uint64_t>(written);
    }
}

}  // namespace

void Show(const char* text) {
    ShowFormatted("%s", text);
}

void ShowFormatted(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    if (!dropped) {
        Count(std::vprintf(format, arguments));
    } else {
        Count(std::vsnprintf(nullptr, 0, format, arguments));
    }
    va_end(arguments);
}

void ShowBytes(const char* bytes, size_t count) {
    if (!dropped) {
        count = std::fwrite(bytes, 1, count, stdout);
    }
    shown += count;
}

void FlushShown() {
    std::fflush(stdout);
}

uint64_t ShownBytes() {
    return shown;
}

void DropShown() {
    std::fflush(stdout);
    dropped = true;
}

bool ShownDropped() {
    return dropped;
}
