#pragma once
// The serial ports this machine has, as the operating system knows them: a
// platform-layer operation with one file per platform (PortListPosix.cpp,
// PortListWin32.cpp); the build picks it.
//
//   Linux    every /sys/class/tty entry backed by a real device (one with a
//            "device" link), with its driver and, for USB adapters, the IDs
//            and texts of the USB device and its /dev/serial/by-id link.
//            Legacy 8250 ports that report no UART (type 0) are left out.
//   macOS    the /dev/cu.* devices (the call-out side of each port).
//   Windows  the COMn names in the registry's SERIALCOMM key, each with the
//            device it belongs to and, for USB adapters, the IDs and serial
//            number that the device's instance ID carries (UsbDeviceId.h).
//
// Nothing here opens a port for use; a failure to read the system's
// information gives a shorter (possibly empty) list, never an error.

#include <string>
#include <vector>

// One port. Every field but path may be empty when the system does not say.
struct PortInfo {
    std::string path;          // the name to give -P: /dev/ttyUSB0, COM3
    std::string driver;        // Linux: the kernel driver (ftdi_sio, cdc_acm, serial8250)
    std::string device;        // Windows: the registry's device name (\Device\Serial0)
    std::string vendorId;      // USB: four hex digits, as the system gives them
    std::string productId;     // USB: four hex digits
    std::string manufacturer;  // USB: the device's own texts
    std::string product;
    std::string serialNumber;
    std::string byIdPath;  // Linux: /dev/serial/by-id/... link to this port
};

// The ports of this machine, ordered by path (numbers in names compare as
// numbers: ttyS2 before ttyS10).
//
// Test hook (POSIX only): when the environment variable
// VANTOIR_TEST_PORT_LIST_ROOT names a directory, the list is read under it as
// ListSerialPorts(root) does, and every path in the result is given under
// that directory (DIR/dev/ttyUSB0, DIR/dev/serial/by-id/...), so that a test
// can link DIR/dev/ttyUSB0 to a pseudo-terminal and open it.
std::vector<PortInfo> ListSerialPorts();

// The same, read from the files under root instead of "/" (root/sys/class/tty,
// root/dev/serial/by-id, root/dev/cu.*), for looking at another tree (a
// chroot, a copy of a machine's sysfs). Paths in the result are as the system
// under root sees them (/dev/...). Windows reads the registry and ignores root.
std::vector<PortInfo> ListSerialPorts(const std::string& root);

// The ordering of the list: path by path, runs of digits by their value.
bool PortPathLess(const std::string& left, const std::string& right);

// Whether devicePath opens the port that the list names listedPath: the same
// name, or on POSIX a path that leads to the same device (a link such as
// /dev/serial/by-id/...); on Windows the same COM name in any case, with or
// without the \\.\ prefix.
bool IsSamePort(const std::string& listedPath, const std::string& devicePath);
