#include "serial/UsbDeviceId.h"

#include <cctype>
#include <cstddef>

namespace {

constexpr size_t kIdDigits = 4;

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::vector<std::string> Split(const std::string& text, const char* separators) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find_first_of(separators, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

// The four hex digits after key at the start of token ("VID_0403"), or empty.
std::string IdAfter(const std::string& token, const std::string& key) {
    if (token.size() != key.size() + kIdDigits || Upper(token.substr(0, key.size())) != key) {
        return std::string();
    }
    for (size_t i = key.size(); i < token.size(); ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(token[i]))) {
            return std::string();
        }
    }
    return token.substr(key.size());
}

bool SameProduct(const UsbDeviceId& left, const UsbDeviceId& right) {
    return Upper(left.vendorId) == Upper(right.vendorId) &&
           Upper(left.productId) == Upper(right.productId);
}

}  // namespace

std::optional<UsbDeviceId> ParseUsbDeviceId(const std::string& id) {
    const std::vector<std::string> parts = Split(id, "\\");
    if (parts.size() < 2) {
        return std::nullopt;
    }
    UsbDeviceId result;
    bool isInterface = false;
    for (const std::string& token : Split(parts[1], "&+")) {
        const std::string vendor = IdAfter(token, "VID_");
        const std::string product = IdAfter(token, "PID_");
        result.vendorId = vendor.empty() ? result.vendorId : vendor;
        result.productId = product.empty() ? result.productId : product;
        isInterface = isInterface || Upper(token.substr(0, 3)) == "MI_";
    }
    if (result.vendorId.empty() || result.productId.empty()) {
        return std::nullopt;
    }
    result.usbDevice = Upper(parts[0]) == "USB" && !isInterface;
    if (result.usbDevice && parts.size() == 3 && parts[2].find('&') == std::string::npos) {
        result.serialNumber = parts[2];
    }
    return result;
}

std::optional<UsbDeviceId> UsbIdentityOfChain(const std::vector<std::string>& instanceIds) {
    std::optional<UsbDeviceId> identity;
    for (const std::string& id : instanceIds) {
        const std::optional<UsbDeviceId> parsed = ParseUsbDeviceId(id);
        if (!parsed) {
            continue;
        }
        if (!identity) {
            identity = parsed;
            identity->serialNumber.clear();
        }
        if (parsed->usbDevice) {
            if (SameProduct(*identity, *parsed)) {
                identity->serialNumber = parsed->serialNumber;
                identity->usbDevice = true;
            }
            break;
        }
    }
    return identity;
}
