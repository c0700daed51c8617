#include "errors/FormatText.h"

#include <cstdio>
#include <vector>

std::string FormatTextList(const char* format, std::va_list values) {
    std::va_list sizing;
    va_copy(sizing, values);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (length <= 0) {
        return std::string();
    }
    std::vector<char> text(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, values);
    return std::string(text.data(), static_cast<size_t>(length));
}

std::string FormatText(const char* format, ...) {
    std::va_list values;
    va_start(values, format);
    std::string text = FormatTextList(format, values);
    va_end(values);
    return text;
}
