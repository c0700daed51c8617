// The serial ports of a Linux machine, from sysfs; of a macOS machine, from
// /dev. See PortList.h.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "serial/PortList.h"

#if !defined(__APPLE__)
#include <linux/serial.h>
#endif

namespace {

namespace fs = std::filesystem;

void SortByPath(std::vector<PortInfo>& ports) {
    std::sort(ports.begin(), ports.end(), [](const PortInfo& left, const PortInfo& right) {
        return PortPathLess(left.path, right.path);
    });
}

// The names in directory (none when it cannot be read).
std::vector<std::string> EntryNames(const fs::path& directory) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

#if defined(__APPLE__)

// Each port has a dial-in (tty.*) and a call-out (cu.*) device; the call-out
// one opens without waiting for carrier, so that is the one to give -P.
std::vector<PortInfo> ListSerialPorts(const std::string& root) {
    std::vector<PortInfo> ports;
    for (const std::string& name : EntryNames(fs::path(root) / "dev")) {
        if (name.compare(0, 3, "cu.") == 0) {
            PortInfo port;
            port.path = "/dev/" + name;
            ports.push_back(port);
        }
    }
    SortByPath(ports);
    return ports;
}

#else

namespace {

// The first line of a sysfs attribute, without its line end; empty when the
// attribute is missing.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

// The last part of what link points to; empty when it is not a link.
std::string LinkTargetName(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

// The driver of a tty's device. Newer kernels put a generic port device (and
// its controller) of the serial-base bus between the tty and the device that
// has the hardware's driver; those are passed over.
std::string DriverOf(const fs::path& ttyDirectory) {
    std::error_code error;
    fs::path directory = fs::canonical(ttyDirectory / "device", error);
    for (int level = 0; !error && level < 3; ++level) {
        const fs::path target = fs::read_symlink(directory / "driver", error);
        if (!error && target.string().find("/serial-base/") == std::string::npos) {
            return target.filename().string();
        }
        directory = directory.parent_path();
    }
    return std::string();
}

// The UART type the driver reports for a port without the sysfs attribute;
// -1 when it cannot be asked.
int UartTypeByIoctl(const fs::path& device) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    serial_struct info{};
    const int result = ioctl(fd, TIOCGSERIAL, &info);
    close(fd);
    return result == 0 ? info.type : -1;
}

// Legacy 8250 ports are registered whether or not a UART answers at their
// address; those without one report type 0 (unknown) and cannot be used.
bool ReportsNoUart(const fs::path& ttyDirectory, const fs::path& device,
                   const std::string& driver) {
    const std::string type = ReadAttribute(ttyDirectory / "type");
    if (!type.empty()) {
        return type == "0" || type == "unknown";
    }
    return driver == "serial8250" && UartTypeByIoctl(device) == 0;
}

// The USB device a tty belongs to: the nearest directory above its device
// (the usb-serial port, then the interface) that carries a vendor ID.
fs::path UsbDeviceOf(const fs::path& ttyDirectory, const fs::path& sysRoot) {
    std::error_code error;
    fs::path directory = fs::canonical(ttyDirectory / "device", error);
    const std::string top = fs::canonical(sysRoot, error).string();
    for (int level = 0; !error && level < 4 && directory.string().size() > top.size(); ++level) {
        if (fs::exists(directory / "idVendor", error)) {
            return directory;
        }
        directory = directory.parent_path();
    }
    return fs::path();
}

void AddUsbDetails(const fs::path& usbDevice, PortInfo& port) {
    port.vendorId = ReadAttribute(usbDevice / "idVendor");
    port.productId = ReadAttribute(usbDevice / "idProduct");
    port.manufacturer = ReadAttribute(usbDevice / "manufacturer");
    port.product = ReadAttribute(usbDevice / "product");
    port.serialNumber = ReadAttribute(usbDevice / "serial");
}

// The /dev/serial/by-id link that points to the tty, if there is one.
std::string ByIdPath(const fs::path& root, const std::string& ttyName) {
    const fs::path byId = root / "dev" / "serial" / "by-id";
    for (const std::string& link : EntryNames(byId)) {
        if (LinkTargetName(byId / link) == ttyName) {
            return "/dev/serial/by-id/" + link;
        }
    }
    return std::string();
}

}  // namespace

std::vector<PortInfo> ListSerialPorts(const std::string& root) {
    const fs::path sysRoot = fs::path(root) / "sys";
    const fs::path classDirectory = sysRoot / "class" / "tty";
    std::vector<PortInfo> ports;
    for (const std::string& name : EntryNames(classDirectory)) {
        const fs::path ttyDirectory = classDirectory / name;
        std::error_code error;
        if (!fs::exists(ttyDirectory / "device", error)) {
            continue;  // a virtual terminal, a pseudo-terminal, the console
        }
        PortInfo port;
        port.path = "/dev/" + name;
        port.driver = DriverOf(ttyDirectory);
        if (ReportsNoUart(ttyDirectory, fs::path(root) / "dev" / name, port.driver)) {
            continue;
        }
        const fs::path usbDevice = UsbDeviceOf(ttyDirectory, sysRoot);
        if (!usbDevice.empty()) {
            AddUsbDetails(usbDevice, port);
        }
        port.byIdPath = ByIdPath(root, name);
        ports.push_back(port);
    }
    SortByPath(ports);
    return ports;
}

#endif

namespace {

const char* const kTestRootVariable = "VANTOIR_TEST_PORT_LIST_ROOT";

}  // namespace

std::vector<PortInfo> ListSerialPorts() {
    const char* testRoot = std::getenv(kTestRootVariable);
    if (testRoot == nullptr || *testRoot == '\0') {
        return ListSerialPorts("/");
    }
    std::vector<PortInfo> ports = ListSerialPorts(testRoot);
    for (PortInfo& port : ports) {
        port.path = testRoot + port.path;
        if (!port.byIdPath.empty()) {
            port.byIdPath = testRoot + port.byIdPath;
        }
    }
    return ports;
}

bool IsSamePort(const std::string& listedPath, const std::string& devicePath) {
    std::error_code error;
    return listedPath == devicePath || fs::equivalent(listedPath, devicePath, error);
}
