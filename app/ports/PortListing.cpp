#include "app/ports/PortListing.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/ports/PortListingMessages.h"
#include "serial/PortSelector.h"
#include "text/Shown.h"

namespace {

// value in double quotes, with a backslash before each double quote and
// backslash in it.
std::string Quoted(const std::string& value) {
    std::string text = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') {
            text += '\\';
        }
        text += c;
    }
    return text + '"';
}

// A value that a space, a quote or a backslash would make ambiguous
// unquoted.
bool NeedsQuotes(const std::string& value) {
    return value.find_first_of(" \t\"\\") != std::string::npos;
}

void AppendField(std::string& line, const char* key, const std::string& value, bool quoted) {
    if (value.empty()) {
        return;
    }
    line += line.back() == ' ' ? "" : " ";
    line += key;
    line += '=';
    line += quoted ? Quoted(value) : value;
}

}  // namespace

std::string FormatPortLine(const PortInfo& port, const std::string& selectName) {
    std::string line = port.path + "  ";
    AppendField(line, "driver", port.driver, false);
    AppendField(line, "device", port.device, false);
    if (!port.vendorId.empty() || !port.productId.empty()) {
        AppendField(line, "usb", port.vendorId + ":" + port.productId, false);
    }
    AppendField(line, "manufacturer", port.manufacturer, true);
    AppendField(line, "product", port.product, true);
    AppendField(line, "serial", port.serialNumber, true);
    AppendField(line, "by-id", port.byIdPath, false);
    AppendField(line, "select", selectName, NeedsQuotes(selectName));
    while (line.back() == ' ') {
        line.pop_back();
    }
    return line;
}

void PrintPortList() {
    const std::vector<PortInfo> ports = ListSerialPorts();
    for (const PortInfo& port : ports) {
        ShowFormatted("%s\n", FormatPortLine(port, UsbSelectName(port, ports)).c_str());
    }
    if (ports.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s", messages::kNoSerialPorts);
    }
    std::exit(0);
}
