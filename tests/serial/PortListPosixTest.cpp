// The port list of a Linux machine, read from fake sysfs trees laid out as
// the kernel lays them out: what is listed, what is left out, and what is
// said of each port.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/PortError.h"
#include "serial/PortList.h"
#include "serial/PortSelector.h"
#include "tests/support/FakeSysfs.h"

namespace {

const std::string kUsbDevice = "sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";
const std::string kAcmDevice = "sys/devices/pci0000:00/0000:00:14.0/usb1/1-3";

// A fake tree and the list read from it.
class FakeTree : public harness::FakeTree {
  public:
    std::vector<PortInfo> List() const { return ListSerialPorts(Root().string()); }
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

// --- Choosing a port by its adapter's USB identity ---------------------------

// An FTDI adapter on USB port usbPort with the given IDs and serial number.
void Adapter(FakeTree& tree, int usbPort, const std::string& tty, const std::string& vendor,
             const std::string& product, const std::string& serial) {
    tree.UsbSerialAdapter(usbPort, tty,
                          {{"idVendor", vendor}, {"idProduct", product}, {"serial", serial}});
}

// The detail line of the error raised when name selects no single port.
std::string RefusalOf(const std::string& name, const std::vector<PortInfo>& ports) {
    try {
        const PortInfo chosen = SelectUsbPort(name, ports);
        return "(chose " + chosen.path + ")";
    } catch (const PortError& error) {
        return std::string(error.what()) + "\n" + error.Detail();
    }
}

TEST(UsbPortSelection, TheOneMatchingAdapterIsChosenWhateverTheCaseOfItsHexIds) {
    FakeTree tree;
    Adapter(tree, 2, "ttyUSB0", "0403", "6001", "A50285BI");
    Adapter(tree, 3, "ttyUSB1", "10c4", "ea60", "0001");  // sysfs writes lower case
    Adapter(tree, 4, "ttyUSB2", "1A86", "7523", "");      // as a system might give it
    tree.Driver("sys/devices/pnp0/00:01", "pnp", "serial");
    tree.Tty("ttyS0", "sys/devices/pnp0/00:01", "4");
    const std::vector<PortInfo> ports = tree.List();
    ASSERT_EQ(ports.size(), 4u);

    for (const char* name : {"usb:0403:6001", "usb:0403:6001:A50285BI", "USB:0403:6001"}) {
        EXPECT_EQ(SelectUsbPort(name, ports).path, "/dev/ttyUSB0") << name;
    }
    for (const char* name : {"usb:10C4:EA60", "usb:10c4:Ea60", "usb:10c4:ea60:0001"}) {
        EXPECT_EQ(SelectUsbPort(name, ports).path, "/dev/ttyUSB1") << name;
    }
    EXPECT_EQ(SelectUsbPort("usb:1a86:7523", ports).path, "/dev/ttyUSB2");
    const PortInfo chosen = SelectUsbPort("usb:0403:6001", ports);
    EXPECT_EQ(chosen.vendorId + ":" + chosen.productId + " " + chosen.serialNumber,
              "0403:6001 A50285BI");
}

TEST(UsbPortSelection, NoMatchSaysSoWithTheNameAsGiven) {
    FakeTree tree;
    Adapter(tree, 2, "ttyUSB0", "0403", "6001", "A50285BI");
    const std::vector<PortInfo> ports = tree.List();

    EXPECT_EQ(RefusalOf("usb:0403:6015", ports),
              "COMPort: failed to open.\nNo serial port matches usb:0403:6015.");
    // The serial number is compared exactly.
    EXPECT_EQ(RefusalOf("usb:0403:6001:a50285bi", ports),
              "COMPort: failed to open.\nNo serial port matches usb:0403:6001:a50285bi.");
    EXPECT_EQ(RefusalOf("usb:0403:6001", FakeTree().List()),
              "COMPort: failed to open.\nNo serial port matches usb:0403:6001.");
}

TEST(UsbPortSelection, TwoMatchesAreListedAndTheSerialNumberNarrowsThemToOne) {
    FakeTree tree;
    Adapter(tree, 2, "ttyUSB0", "0403", "6001", "A50285BI");
    Adapter(tree, 3, "ttyUSB1", "0403", "6001", "FT9XKQ2C");
    Adapter(tree, 4, "ttyUSB2", "0403", "6015", "DN05ABCD");
    const std::vector<PortInfo> ports = tree.List();

    EXPECT_EQ(RefusalOf("usb:0403:6001", ports),
              "COMPort: failed to open.\n"
              "2 serial ports match usb:0403:6001: /dev/ttyUSB0 /dev/ttyUSB1 "
              "(add the serial number).");
    EXPECT_EQ(SelectUsbPort("usb:0403:6001:FT9XKQ2C", ports).path, "/dev/ttyUSB1");
    EXPECT_EQ(SelectUsbPort("usb:0403:6001:A50285BI", ports).path, "/dev/ttyUSB0");
    // What the listing offers for each: a name that chooses it alone.
    std::vector<std::string> names;
    for (const PortInfo& port : ports) {
        names.push_back(UsbSelectName(port, ports));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"usb:0403:6001:A50285BI", "usb:0403:6001:FT9XKQ2C",
                                               "usb:0403:6015:DN05ABCD"}));
}

}  // namespace
