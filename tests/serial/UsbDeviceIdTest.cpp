// The USB identity of a Windows port from the instance IDs of its device and
// the device's ancestors, as adapters of the common kinds give them.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "serial/UsbDeviceId.h"

namespace {

// "VID:PID SERIAL" (or "none").
std::string Shown(const std::optional<UsbDeviceId>& id) {
    if (!id) {
        return "none";
    }
    return id->vendorId + ":" + id->productId + " " + id->serialNumber;
}

TEST(UsbDeviceIds, InstanceAndHardwareIdsGiveTheirIdsAndOnlyARealSerialNumber) {
    struct Case {
        const char* id;
        const char* shown;
        bool usbDevice;
    };
    const Case cases[] = {
        {"USB\\VID_0403&PID_6001\\A50285BI", "0403:6001 A50285BI", true},
        {"usb\\vid_10c4&pid_ea60\\0001", "10c4:ea60 0001", true},
        // Hardware IDs: no instance part.
        {"USB\\VID_0403&PID_6001&REV_0600", "0403:6001 ", true},
        // A device without a serial number: Windows makes the instance part up.
        {"USB\\VID_1A86&PID_7523\\5&2C1E3F0A&0&3", "1A86:7523 ", true},
        // An interface of a composite device.
        {"USB\\VID_2341&PID_0043&MI_00\\6&1A2B3C4D&0&0000", "2341:0043 ", false},
        // A port made by a vendor's bus driver: its serial part is not the
        // device's own (a port letter follows it).
        {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "0403:6001 ", false},
        {"ACPI\\PNP0501\\1", "none", false},
        {"USB\\ROOT_HUB30\\4&1B2C3D4E&0&0", "none", false},
        {"USB\\VID_0403&PID_60\\X", "none", false},
        {"USB\\VID_04G3&PID_6001\\X", "none", false},
        {"", "none", false},
    };
    for (const Case& c : cases) {
        const std::optional<UsbDeviceId> id = ParseUsbDeviceId(c.id);
        EXPECT_EQ(Shown(id), c.shown) << c.id;
        if (id) {
            EXPECT_EQ(id->usbDevice, c.usbDevice) << c.id;
        }
    }
}

TEST(UsbDeviceIds, ThePortTakesTheSerialNumberOfTheUsbDeviceAboveItsInterfaceOrBusDevice) {
    using Chain = std::vector<std::string>;
    // The adapter's own device is the port.
    EXPECT_EQ(Shown(UsbIdentityOfChain(
                  {"USB\\VID_0403&PID_6001\\A50285BI", "USB\\ROOT_HUB30\\4&1B2C3D4E&0&0"})),
              "0403:6001 A50285BI");
    // A vendor's bus driver's port under the adapter.
    EXPECT_EQ(Shown(UsbIdentityOfChain(Chain{"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000",
                                             "USB\\VID_0403&PID_6001\\A50285BI",
                                             "USB\\ROOT_HUB30\\4&1B2C3D4E&0&0"})),
              "0403:6001 A50285BI");
    // An interface of a composite device, under a hub of another maker.
    EXPECT_EQ(Shown(UsbIdentityOfChain(Chain{"USB\\VID_2341&PID_8036&MI_00\\7&2F3E&0&0000",
                                             "USB\\VID_2341&PID_8036\\HIDPC",
                                             "USB\\VID_05E3&PID_0610\\5&1234&0&2"})),
              "2341:8036 HIDPC");
    // The search ends at the first USB device: a hub's serial is not the port's.
    EXPECT_EQ(Shown(UsbIdentityOfChain(Chain{"USB\\VID_1A86&PID_7523\\5&2C1E3F0A&0&3",
                                             "USB\\VID_1A86&PID_7523\\HUBSERIAL"})),
              "1A86:7523 ");
    EXPECT_EQ(Shown(UsbIdentityOfChain(Chain{"ACPI\\PNP0501\\1", "ACPI\\PNP0A03\\0"})), "none");
    EXPECT_EQ(Shown(UsbIdentityOfChain(Chain{})), "none");
}

}  // namespace
