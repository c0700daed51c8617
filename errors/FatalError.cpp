#include "errors/FatalError.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "errors/ProgramError.h"

namespace {

std::string FormatList(const char* format, std::va_list args) {
    std::va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (length <= 0) {
        return std::string();
    }
    std::vector<char> text(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    return std::string(text.data(), static_cast<size_t>(length));
}

}  // namespace

std::string FormatText(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::string text = FormatList(format, args);
    va_end(args);
    return text;
}

void FatalError(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::string message = FormatList(format, args);
    va_end(args);
    throw ProgramError(std::move(message), 1);
}
