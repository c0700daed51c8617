#include "serial/PortList.h"

#include <cctype>
#include <cstddef>

namespace {

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The run of digits that starts at index, without its leading zeros.
std::string DigitRun(const std::string& text, size_t& index) {
    while (index < text.size() && text[index] == '0') {
        ++index;
    }
    const size_t start = index;
    while (index < text.size() && IsDigit(text[index])) {
        ++index;
    }
    return text.substr(start, index - start);
}

}  // namespace

bool PortPathLess(const std::string& left, const std::string& right) {
    size_t i = 0;
    size_t j = 0;
    while (i < left.size() && j < right.size()) {
        if (IsDigit(left[i]) && IsDigit(right[j])) {
            const std::string a = DigitRun(left, i);
            const std::string b = DigitRun(right, j);
            if (a.size() != b.size()) {
                return a.size() < b.size();
            }
            if (a != b) {
                return a < b;
            }
            continue;
        }
        if (left[i] != right[j]) {
            return left[i] < right[j];
        }
        ++i;
        ++j;
    }
    return left.size() - i < right.size() - j;
}
