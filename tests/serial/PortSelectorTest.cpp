// Choosing a port by the USB identity of its adapter, on any system: names
// that are not well formed, the hints for several matches, the names the
// port list offers, and COMPort opening what the name chose.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakePortPlatform.h"
#include "errors/PortError.h"
#include "serial/COMPort.h"
#include "serial/PortSelector.h"

namespace {

PortInfo Port(const std::string& path, const std::string& vendor, const std::string& product,
              const std::string& serial) {
    PortInfo port;
    port.path = path;
    port.vendorId = vendor;
    port.productId = product;
    port.serialNumber = serial;
    return port;
}

std::string DetailOfSelection(const std::string& name, const std::vector<PortInfo>& ports) {
    try {
        return "(chose " + SelectUsbPort(name, ports).path + ")";
    } catch (const PortError& error) {
        EXPECT_STREQ(error.what(), "COMPort: failed to open.");
        return error.Detail();
    }
}

TEST(UsbPortNames, OnlyTheUsbPrefixInAnyCaseMakesAUsbName) {
    for (const char* name : {"usb:0403:6001", "USB:0403:6001", "Usb:x", "usb:"}) {
        EXPECT_TRUE(IsUsbPortName(name)) << name;
    }
    for (const char* name :
         {"COM3", "/dev/ttyUSB0", "ttyUSB0", "usb", "usb0403:6001", "/dev/usb:0403:6001", ""}) {
        EXPECT_FALSE(IsUsbPortName(name)) << name;
    }
}

TEST(UsbPortNames, MalformedNamesAreRefusedWithTheFormToUse) {
    const std::vector<PortInfo> ports = {Port("COM3", "0403", "6001", "A50285BI")};
    for (const char* name : {"usb:", "usb:0403", "usb:403:6001", "usb:0403:60011", "usb:04g3:6001",
                             "usb:0403:6001:", "usb::6001", "usb:0x0403:6001"}) {
        EXPECT_EQ(DetailOfSelection(name, ports),
                  std::string("Not a USB port name: ") + name +
                      " (give usb:VID:PID or usb:VID:PID:SERIAL, VID and PID four hex digits "
                      "each).")
            << name;
    }
    // Everything after the third colon is the serial number.
    const std::vector<PortInfo> colons = {Port("COM4", "0403", "6001", "AB:CD")};
    EXPECT_EQ(DetailOfSelection("usb:0403:6001:AB:CD", colons), "(chose COM4)");
}

TEST(UsbPortNames, PortsTheSerialNumberCannotTellApartAreToBeChosenByPath) {
    // Two ports of one two-port adapter share its serial number; two adapters
    // without serial numbers share nothing that tells them apart.
    const std::vector<PortInfo> twoPorts = {Port("COM5", "0403", "6010", "FT4ZS6I4"),
                                            Port("COM6", "0403", "6010", "FT4ZS6I4")};
    const std::vector<PortInfo> noSerials = {Port("COM7", "1a86", "7523", ""),
                                             Port("COM8", "1a86", "7523", "")};
    EXPECT_EQ(DetailOfSelection("usb:0403:6010", twoPorts),
              "2 serial ports match usb:0403:6010: COM5 COM6 (give the path of one of them "
              "instead).");
    EXPECT_EQ(DetailOfSelection("usb:0403:6010:FT4ZS6I4", twoPorts),
              "2 serial ports match usb:0403:6010:FT4ZS6I4: COM5 COM6 (give the path of one of "
              "them instead).");
    EXPECT_EQ(DetailOfSelection("usb:1A86:7523", noSerials),
              "2 serial ports match usb:1A86:7523: COM7 COM8 (give the path of one of them "
              "instead).");
    for (const std::vector<PortInfo>& ports : {twoPorts, noSerials}) {
        for (const PortInfo& port : ports) {
            EXPECT_EQ(UsbSelectName(port, ports), "") << port.path;
        }
    }
}

TEST(UsbPortNames, TheListOffersTheSerialNumberWhenThereIsOneAndNothingForOtherPorts) {
    PortInfo uart;
    uart.path = "/dev/ttyS0";
    uart.driver = "serial";
    const std::vector<PortInfo> ports = {Port("/dev/ttyACM0", "2341", "0043", ""),
                                         Port("/dev/ttyUSB0", "0403", "6001", "A50285BI"), uart};
    EXPECT_EQ(UsbSelectName(ports[0], ports), "usb:2341:0043");
    EXPECT_EQ(UsbSelectName(ports[1], ports), "usb:0403:6001:A50285BI");
    EXPECT_EQ(UsbSelectName(ports[2], ports), "");
}

// --- COMPort over a usb: name ------------------------------------------------

TEST(UsbPortOpening, TheChosenPortIsOpenedAndDescribedWithoutListingAgain) {
    FakePortPlatform platform;
    platform.listedPorts = {Port("COM3", "0403", "6001", "A50285BI"),
                            Port("COM9", "10C4", "EA60", "0001")};

    COMPort port("usb:10c4:ea60", platform);

    EXPECT_EQ(platform.openedName, "COM9");
    EXPECT_EQ(platform.calls.front(), "ListPorts");
    EXPECT_EQ(port.DevicePath(), "COM9");
    const std::optional<PortInfo> described = port.DescribeOpenedPort();
    ASSERT_TRUE(described.has_value());
    EXPECT_EQ(described->vendorId + ":" + described->productId + " " + described->serialNumber,
              "10C4:EA60 0001");
    EXPECT_EQ(platform.Count("ListPorts"), 1u);
}

TEST(UsbPortOpening, NoMatchRaisesBeforeAnythingIsOpened) {
    FakePortPlatform platform;
    platform.listedPorts = {Port("COM3", "0403", "6001", "A50285BI")};
    try {
        COMPort port("usb:0403:6015", platform);
        ADD_FAILURE() << "opened " << platform.openedName;
    } catch (const PortError& error) {
        EXPECT_STREQ(error.what(), "COMPort: failed to open.");
        EXPECT_EQ(error.Detail(), "No serial port matches usb:0403:6015.");
    }
    EXPECT_EQ(platform.calls, std::vector<std::string>{"ListPorts"});
}

TEST(UsbPortOpening, OtherNamesGoToThePlatformUnlistedAndAreDescribedWhenAsked) {
    FakePortPlatform platform;
    platform.listedPorts = {Port("COM3", "0403", "6001", "A50285BI")};

    COMPort port("COM3", platform);
    EXPECT_EQ(platform.openedName, "COM3");
    EXPECT_EQ(platform.Count("ListPorts"), 0u);
    EXPECT_EQ(port.DevicePath(), "COM3");
    const std::optional<PortInfo> described = port.DescribeOpenedPort();
    ASSERT_TRUE(described.has_value());
    EXPECT_EQ(described->serialNumber, "A50285BI");

    COMPort unlisted("COM4", platform);
    EXPECT_FALSE(unlisted.DescribeOpenedPort().has_value());
}

}  // namespace
