#include "serial/PortSelector.h"

#include <cctype>
#include <cstddef>
#include <cstdio>

#include "errors/FormatText.h"
#include "errors/PortError.h"
#include "serial/SerialMessages.h"

namespace {

constexpr size_t kPrefixLength = 4;  // "usb:"
constexpr size_t kIdLength = 4;      // hex digits of a vendor or product ID

// The parts of a well-formed usb: name.
struct UsbIdentity {
    std::string vendorId;
    std::string productId;
    std::string serialNumber;
    bool hasSerial = false;
};

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool IsHexId(const std::string& text) {
    if (text.size() != kIdLength) {
        return false;
    }
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// The identity a usb: name asks for; false when the name is not well formed
// (IDs that are not four hex digits, an empty serial number after a colon).
bool ParseUsbName(const std::string& name, UsbIdentity& identity) {
    if (!IsUsbPortName(name)) {
        return false;
    }
    const size_t productStart = name.find(':', kPrefixLength);
    if (productStart == std::string::npos) {
        return false;
    }
    const size_t serialColon = name.find(':', productStart + 1);
    identity.vendorId = name.substr(kPrefixLength, productStart - kPrefixLength);
    identity.productId = name.substr(productStart + 1, serialColon - productStart - 1);
    identity.hasSerial = serialColon != std::string::npos;
    identity.serialNumber = identity.hasSerial ? name.substr(serialColon + 1) : std::string();
    return IsHexId(identity.vendorId) && IsHexId(identity.productId) &&
           (!identity.hasSerial || !identity.serialNumber.empty());
}

bool Matches(const UsbIdentity& identity, const PortInfo& port) {
    return Lower(port.vendorId) == Lower(identity.vendorId) &&
           Lower(port.productId) == Lower(identity.productId) &&
           (!identity.hasSerial || port.serialNumber == identity.serialNumber);
}

std::vector<PortInfo> MatchingPorts(const UsbIdentity& identity,
                                    const std::vector<PortInfo>& ports) {
    std::vector<PortInfo> matches;
    for (const PortInfo& port : ports) {
        if (Matches(identity, port)) {
            matches.push_back(port);
        }
    }
    return matches;
}

// Whether adding the serial number to the name would pick out at least one
// of the matches.
bool SerialNumberWouldNarrow(const UsbIdentity& identity, const std::vector<PortInfo>& matches) {
    if (identity.hasSerial) {
        return false;
    }
    for (const PortInfo& port : matches) {
        size_t sharing = 0;
        for (const PortInfo& other : matches) {
            sharing += other.serialNumber == port.serialNumber ? 1 : 0;
        }
        if (!port.serialNumber.empty() && sharing == 1) {
            return true;
        }
    }
    return false;
}

std::string SeveralMatchesDetail(const std::string& name, const UsbIdentity& identity,
                                 const std::vector<PortInfo>& matches) {
    std::string paths;
    for (const PortInfo& port : matches) {
        paths += (paths.empty() ? "" : " ") + port.path;
    }
    const char* hint = SerialNumberWouldNarrow(identity, matches) ? messages::kAddSerialNumberHint
                                                                  : messages::kGivePathHint;
    return FormatText(messages::kPortsMatchFormat, static_cast<int>(matches.size()), name.c_str(),
                      paths.c_str(), hint);
}

}  // namespace

bool IsUsbPortName(const std::string& name) {
    return name.size() >= kPrefixLength && Lower(name.substr(0, kPrefixLength)) == "usb:";
}

PortInfo SelectUsbPort(const std::string& name, const std::vector<PortInfo>& ports) {
    UsbIdentity identity;
    if (!ParseUsbName(name, identity)) {
        throw PortError(messages::kPortOpenFailed,
                        FormatText(messages::kNotUsbPortNameFormat, name.c_str()));
    }
    const std::vector<PortInfo> matches = MatchingPorts(identity, ports);
    if (matches.empty()) {
        throw PortError(messages::kPortOpenFailed,
                        FormatText(messages::kNoPortMatchesFormat, name.c_str()));
    }
    if (matches.size() > 1) {
        throw PortError(messages::kPortOpenFailed, SeveralMatchesDetail(name, identity, matches));
    }
    return matches.front();
}

std::string UsbSelectName(const PortInfo& port, const std::vector<PortInfo>& ports) {
    std::string name = "usb:" + port.vendorId + ":" + port.productId;
    if (!port.serialNumber.empty()) {
        name += ":" + port.serialNumber;
    }
    UsbIdentity identity;
    if (!ParseUsbName(name, identity) || MatchingPorts(identity, ports).size() != 1) {
        return std::string();
    }
    return name;
}

std::optional<PortInfo> FindListedPort(const std::vector<PortInfo>& ports,
                                       const std::string& devicePath) {
    for (const PortInfo& port : ports) {
        if (IsSamePort(port.path, devicePath)) {
            return port;
        }
    }
    return std::nullopt;
}
