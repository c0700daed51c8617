#pragma once
// The USB identity of a port from the device instance IDs Windows gives its
// device and the device's ancestors, for example
//   USB\VID_0403&PID_6001\A50285BI            an adapter; its serial number
//   USB\VID_2341&PID_0043&MI_00\6&1A2B3C&0&0000  an interface of a composite
//                                             device (no serial number here)
//   FTDIBUS\VID_0403+PID_6001+A50285BIA\0000  a port made by a vendor's bus
//                                             driver under the USB device
// Hardware IDs (USB\VID_0403&PID_6001&REV_0600) read the same way, without a
// serial number. Plain text work, the same on every system; PortListWin32.cpp
// collects the IDs.

#include <optional>
#include <string>
#include <vector>

struct UsbDeviceId {
    std::string vendorId;      // four hex digits, as the ID gives them
    std::string productId;     // four hex digits
    std::string serialNumber;  // empty when the ID carries none
    bool usbDevice = false;    // a device of the USB bus itself, not an
                               // interface (MI_) or another bus's child
};

// The IDs and serial number one instance or hardware ID carries; nullopt when
// it names no vendor and product. A serial number is taken only from the
// instance part of a USB device's ID, and only when it is the device's own:
// Windows makes up an instance part with "&" in it for a device without one.
std::optional<UsbDeviceId> ParseUsbDeviceId(const std::string& id);

// The identity of a port from the instance IDs of its device and of the
// device's ancestors, nearest first: vendor and product of the nearest ID
// that has them; the serial number of the nearest USB device with the same
// vendor and product (the port's own device, or the device whose interface
// or child it is). The search ends at the first USB device. nullopt when no
// ID names a vendor and product.
std::optional<UsbDeviceId> UsbIdentityOfChain(const std::vector<std::string>& instanceIds);
