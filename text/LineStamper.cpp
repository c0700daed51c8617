#include "text/LineStamper.h"

#include <cstdio>

void LineStamper::Add(const char* bytes, std::size_t count, const std::string& stamp,
                      std::string& out) {
    for (std::size_t i = 0; i < count; ++i) {
        const char byte = bytes[i];
        const bool endsCrLf = state == State::AfterCr && byte == '\n';
        if (state != State::InLine && !endsCrLf) {
            out += stamp;
        }
        out += byte;
        state = byte == '\n' ? State::AtStart : byte == '\r' ? State::AfterCr : State::InLine;
    }
}

std::string ElapsedStamp(int64_t milliseconds) {
    char text[48];
    std::snprintf(text, sizeof text, "[%4lld.%03d] ", static_cast<long long>(milliseconds / 1000),
                  static_cast<int>(milliseconds % 1000));
    return text;
}

std::string DateTimeStamp(const std::tm& when, int milliseconds) {
    char text[64];
    std::snprintf(text, sizeof text, "[%04d-%02d-%02d %02d:%02d:%02d.%03d] ", when.tm_year + 1900,
                  when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec,
                  milliseconds);
    return text;
}
