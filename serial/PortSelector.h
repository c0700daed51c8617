#pragma once
// A port chosen by the USB identity of its adapter instead of by its name:
//   usb:VID:PID          the one listed port whose USB device has vendor VID
//                        and product PID (four hex digits each, either case,
//                        compared without regard to case)
//   usb:VID:PID:SERIAL   the same with that serial number (compared exactly;
//                        everything after the third colon, colons included)
// The prefix may be written in any case (USB:0403:6001). The ports are those
// the system lists (PortList.h), so the choice works wherever --list-ports
// shows the adapter's IDs. Every other name is left to PortName.h.
//
// A name that selects no port, several ports, or that is not well formed
// raises a PortError with kPortOpenFailed and a detail line saying which:
//   No serial port matches usb:0403:6001.
//   2 serial ports match usb:0403:6001: /dev/ttyUSB0 /dev/ttyUSB1 (add the serial number).
//   Not a USB port name: usb:403:6001 (give usb:VID:PID or usb:VID:PID:SERIAL, ...).

#include <optional>
#include <string>
#include <vector>

#include "serial/PortList.h"

// True when name begins with "usb:" in any case; such a name is never a
// device name.
bool IsUsbPortName(const std::string& name);

// The one port of ports that the usb: name selects. Raises PortError
// (kPortOpenFailed with a detail line) when none or several match, or when
// the name is not well formed.
PortInfo SelectUsbPort(const std::string& name, const std::vector<PortInfo>& ports);

// The usb: name that selects port alone among ports (the whole list, port
// included): usb:VID:PID:SERIAL when the port has a serial number, else
// usb:VID:PID. Empty when the port is not a USB device or when that name
// would also select another port (two ports of one adapter, or adapters
// without serial numbers).
std::string UsbSelectName(const PortInfo& port, const std::vector<PortInfo>& ports);

// The entry of ports for the device that devicePath opens (the path itself,
// or a link to it such as /dev/serial/by-id/...); nullopt when none.
std::optional<PortInfo> FindListedPort(const std::vector<PortInfo>& ports,
                                       const std::string& devicePath);
