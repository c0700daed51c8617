// The port list of a Linux machine, read from fake sysfs trees laid out as
// the kernel lays them out: what is listed, what is left out, and what is
// said of each port.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/PortList.h"

namespace {

namespace fs = std::filesystem;

const std::string kUsbDevice = "sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";
const std::string kAcmDevice = "sys/devices/pci0000:00/0000:00:14.0/usb1/1-3";

// A directory tree under a fresh temporary root, removed at the end.
class FakeTree {
  public:
    FakeTree() {
        char pattern[] = "/tmp/vantoir-sysfs-XXXXXX";
        root = mkdtemp(pattern);
    }
    ~FakeTree() { fs::remove_all(root); }

    void File(const std::string& path, const std::string& content) {
        fs::create_directories((root / path).parent_path());
        std::ofstream(root / path) << content << "\n";
    }
    // A relative symbolic link, as sysfs has them; the target need not exist.
    void Link(const std::string& path, const std::string& target) {
        fs::create_directories((root / path).parent_path());
        fs::create_symlink(fs::path(target).lexically_relative(fs::path(path).parent_path()),
                           root / path);
    }
    // A tty of the class directory, living under device/tty/name.
    void Tty(const std::string& name, const std::string& device, const std::string& type = "") {
        const std::string home = device + "/tty/" + name;
        fs::create_directories(root / home);
        Link(home + "/device", device);
        Link("sys/class/tty/" + name, home);
        if (!type.empty()) {
            File(home + "/type", type);
        }
    }
    void Driver(const std::string& device, const std::string& bus, const std::string& driver) {
        const std::string home = "sys/bus/" + bus + "/drivers/" + driver;
        fs::create_directories(root / home);
        Link(device + "/driver", home);
    }

    std::vector<PortInfo> List() const { return ListSerialPorts(root.string()); }

  private:
    fs::path root;
};

std::vector<std::string> Paths(const std::vector<PortInfo>& ports) {
    std::vector<std::string> paths;
    for (const PortInfo& port : ports) {
        paths.push_back(port.path);
    }
    return paths;
}

TEST(PortListLinux, UsbAdaptersShowTheirUsbDeviceAndByIdLinkAndVirtualTtysAreLeftOut) {
    FakeTree tree;
    // A usb-serial adapter: tty under the port device, under the interface.
    for (const auto& [name, value] :
         std::vector<std::pair<std::string, std::string>>{{"idVendor", "0403"},
                                                          {"idProduct", "6001"},
                                                          {"manufacturer", "FTDI"},
                                                          {"product", "FT232R USB UART"},
                                                          {"serial", "A50285BI"}}) {
        tree.File(kUsbDevice + "/" + name, value);
    }
    tree.Driver(kUsbDevice + "/1-2:1.0", "usb", "ftdi_sio");
    tree.Driver(kUsbDevice + "/1-2:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    tree.Tty("ttyUSB0", kUsbDevice + "/1-2:1.0/ttyUSB0");
    tree.Link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "dev/ttyUSB0");
    // A CDC-ACM board: tty right under the interface; no serial number, no
    // by-id link.
    tree.File(kAcmDevice + "/idVendor", "2341");
    tree.File(kAcmDevice + "/idProduct", "0043");
    tree.File(kAcmDevice + "/product", "Uno");
    tree.Driver(kAcmDevice + "/1-3:1.0", "usb", "cdc_acm");
    tree.Tty("ttyACM0", kAcmDevice + "/1-3:1.0");
    // Virtual terminals and the console have no device.
    tree.File("sys/devices/virtual/tty/tty0/dev", "4:0");
    tree.Link("sys/class/tty/tty0", "sys/devices/virtual/tty/tty0");

    const std::vector<PortInfo> ports = tree.List();

    ASSERT_EQ(Paths(ports), (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB0"}));
    const PortInfo& acm = ports[0];
    EXPECT_EQ(acm.driver, "cdc_acm");
    EXPECT_EQ(acm.vendorId + ":" + acm.productId, "2341:0043");
    EXPECT_EQ(acm.product, "Uno");
    EXPECT_EQ(acm.manufacturer + acm.serialNumber + acm.byIdPath, "");
    const PortInfo& usb = ports[1];
    EXPECT_EQ(usb.driver, "ftdi_sio");
    EXPECT_EQ(usb.vendorId + ":" + usb.productId, "0403:6001");
    EXPECT_EQ(usb.manufacturer, "FTDI");
    EXPECT_EQ(usb.product, "FT232R USB UART");
    EXPECT_EQ(usb.serialNumber, "A50285BI");
    EXPECT_EQ(usb.byIdPath, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
}

TEST(PortListLinux, OnBoardUartsShowTheHardwareDriverBehindTheGenericPortDevices) {
    FakeTree tree;
    // The layout of newer kernels: pnp device, controller, port, tty.
    const std::string pnp = "sys/devices/pnp0/00:01";
    tree.Driver(pnp, "pnp", "serial");
    tree.Driver(pnp + "/00:01:0", "serial-base", "ctrl");
    tree.Driver(pnp + "/00:01:0/00:01:0.0", "serial-base", "port");
    tree.Tty("ttyS0", pnp + "/00:01:0/00:01:0.0", "4");

    const std::vector<PortInfo> ports = tree.List();

    ASSERT_EQ(Paths(ports), std::vector<std::string>{"/dev/ttyS0"});
    EXPECT_EQ(ports[0].driver, "serial");
    EXPECT_EQ(ports[0].vendorId + ports[0].productId + ports[0].byIdPath, "");
}

TEST(PortListLinux, LegacyPortsWithoutAUartAreLeftOutAndNumbersSortByValue) {
    FakeTree tree;
    const std::string legacy = "sys/devices/platform/serial8250";
    tree.Driver(legacy, "platform", "serial8250");
    for (const char* name : {"ttyS1", "ttyS2", "ttyS3"}) {
        tree.Tty(name, legacy, "0");
    }
    tree.Tty("ttyS10", legacy, "4");
    tree.Tty("ttyS4", legacy, "4");

    const std::vector<PortInfo> ports = tree.List();

    EXPECT_EQ(Paths(ports), (std::vector<std::string>{"/dev/ttyS4", "/dev/ttyS10"}));
    for (const PortInfo& port : ports) {
        EXPECT_EQ(port.driver, "serial8250") << port.path;
    }
}

TEST(PortListLinux, ATreeWithoutTtyClassGivesAnEmptyList) {
    FakeTree tree;
    tree.File("sys/class/net/lo/type", "772");
    EXPECT_TRUE(tree.List().empty());
}

}  // namespace
