// The serial ports of a Windows machine: the registry's SERIALCOMM key, where
// every serial driver enters its ports while they are present (one value per
// port: the value's name is the driver's device, its data the COMn name). The
// USB identity of a port comes from the Plug and Play devices of the Ports
// class and of the COM-port interface: each names its port in the "PortName"
// value of its device key, and its instance ID and those of its ancestors
// carry the vendor, product and serial number. See PortList.h.

#include <windows.h>
// After windows.h.
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "serial/PortList.h"
#include "serial/UsbDeviceId.h"

namespace {

const char* const kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The Ports (COM & LPT) device class, and the interface of COM ports that
// drivers outside that class register.
const GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

// How far up the device tree the serial number of a port is looked for: the
// port's device, an interface or bus driver's child, the USB device.
constexpr int kAncestorsLooked = 4;

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The COM name a device's key gives its port; empty when it has none.
std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    char name[256];
    DWORD length = sizeof name - 1;
    DWORD type = 0;
    const LONG result =
        RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &length);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ) {
        return std::string();
    }
    name[length] = 0;  // registry strings need not end in a zero
    return name;
}

// The instance IDs of device and its ancestors, nearest first.
std::vector<std::string> InstanceIdChain(DEVINST device) {
    std::vector<std::string> chain;
    for (int level = 0; level < kAncestorsLooked; ++level) {
        char id[MAX_DEVICE_ID_LEN + 1];
        if (CM_Get_Device_IDA(device, id, sizeof id, 0) != CR_SUCCESS) {
            break;
        }
        chain.push_back(id);
        DEVINST parent = 0;
        if (CM_Get_Parent(&parent, device, 0) != CR_SUCCESS) {
            break;
        }
        device = parent;
    }
    return chain;
}

// The USB identities of the present devices of a class or interface, by
// their port's COM name in capitals.
void CollectUsbIdentities(const GUID& guid, DWORD flags,
                          std::map<std::string, UsbDeviceId>& identities) {
    const HDEVINFO set = SetupDiGetClassDevsA(&guid, nullptr, nullptr, flags | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        return;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        const std::string portName = PortNameOf(set, device);
        const std::optional<UsbDeviceId> identity =
            UsbIdentityOfChain(InstanceIdChain(device.DevInst));
        if (!portName.empty() && identity) {
            identities[Upper(portName)] = *identity;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
}

void AddUsbIdentities(std::vector<PortInfo>& ports) {
    std::map<std::string, UsbDeviceId> identities;
    CollectUsbIdentities(kPortsClass, 0, identities);
    CollectUsbIdentities(kComPortInterface, DIGCF_DEVICEINTERFACE, identities);
    for (PortInfo& port : ports) {
        const auto found = identities.find(Upper(port.path));
        if (found != identities.end()) {
            port.vendorId = found->second.vendorId;
            port.productId = found->second.productId;
            port.serialNumber = found->second.serialNumber;
        }
    }
}

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
    AddUsbIdentities(ports);
    std::sort(ports.begin(), ports.end(), [](const PortInfo& left, const PortInfo& right) {
        return PortPathLess(left.path, right.path);
    });
    return ports;
}

std::vector<PortInfo> ListSerialPorts() {
    return ListSerialPorts(std::string());
}

bool IsSamePort(const std::string& listedPath, const std::string& devicePath) {
    const std::string kDeviceNamespace = "\\\\.\\";
    const std::string name = devicePath.compare(0, kDeviceNamespace.size(), kDeviceNamespace) == 0
                                 ? devicePath.substr(kDeviceNamespace.size())
                                 : devicePath;
    return Upper(listedPath) == Upper(name);
}
