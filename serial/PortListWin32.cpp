// The serial ports of a Windows machine: the registry's SERIALCOMM key, where
// every serial driver enters its ports while they are present (one value per
// port: the value's name is the driver's device, its data the COMn name). See
// PortList.h.

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "serial/PortList.h"

namespace {

const char* const kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// One value of the open key: false once there are no more.
bool ReadPortValue(HKEY key, DWORD index, PortInfo& port, bool& more) {
    char name[256];
    DWORD nameLength = sizeof name;
    BYTE data[256];
    DWORD dataLength = sizeof data - 1;
    DWORD type = 0;
    const LONG result =
        RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength);
    more = result != ERROR_NO_MORE_ITEMS;
    if (result != ERROR_SUCCESS || type != REG_SZ) {
        return false;
    }
    data[dataLength] = 0;  // registry strings need not end in a zero
    port.path = reinterpret_cast<const char*>(data);
    port.device = std::string(name, nameLength);
    return !port.path.empty();
}

}  // namespace

std::vector<PortInfo> ListSerialPorts(const std::string& /*root*/) {
    std::vector<PortInfo> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return ports;  // no serial driver has entered a port
    }
    bool more = true;
    for (DWORD index = 0; more; ++index) {
        PortInfo port;
        if (ReadPortValue(key, index, port, more)) {
            ports.push_back(port);
        }
    }
    RegCloseKey(key);
    std::sort(ports.begin(), ports.end(), [](const PortInfo& left, const PortInfo& right) {
        return PortPathLess(left.path, right.path);
    });
    return ports;
}
