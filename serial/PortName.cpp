#include "serial/PortName.h"

#include <cctype>
#include <cstring>

namespace {

// "COM" in any case followed by at least one digit and nothing else.
bool IsComName(const char* name) {
    if (std::strlen(name) < 4 || std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M') {
        return false;
    }
    for (const char* digit = name + 3; *digit != '\0'; ++digit) {
        if (!std::isdigit(static_cast<unsigned char>(*digit))) {
            return false;
        }
    }
    return true;
}

// The n of "COMn" (any case, n from 1 to 256), or 0 when name is not one.
int ComPortNumber(const char* name) {
    if (!IsComName(name)) {
        return 0;
    }
    int number = 0;
    for (const char* digit = name + 3; *digit != '\0'; ++digit) {
        if (number > 256) {
            return 0;
        }
        number = number * 10 + (*digit - '0');
    }
    return number <= 256 ? number : 0;
}

}  // namespace

std::string DevicePathForPortName(const char* name) {
    if (std::strchr(name, '/') != nullptr) {
        return name;
    }
    const int comNumber = ComPortNumber(name);
    if (comNumber > 0) {
        return "/dev/ttyS" + std::to_string(comNumber - 1);
    }
    return std::string("/dev/") + name;
}

std::string WindowsDeviceNameForPortName(const char* name) {
    if (IsComName(name)) {
        return std::string("\\\\.\\") + name;
    }
    return name;
}
