#pragma once
// --list-ports: the serial ports of this machine on standard output, one a
// line: the name to give -P first, then what the system knows of the port as
// key=value pairs (texts of the device in double quotes, a double quote or
// backslash in them escaped with a backslash: \" and \\), for example
//   /dev/ttyUSB0  driver=ftdi_sio usb=0403:6001 manufacturer="FTDI" product="FT232R USB UART"
//   serial="A50285BI" by-id=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
//   select=usb:0403:6001:A50285BI
//   /dev/ttyS0  driver=serial8250
//   COM3  device=\Device\Serial0
// so that a script can take the first word of each line. select= is the
// usb: name that chooses the port by its adapter (serial/PortSelector.h),
// given only when it chooses that port alone; quoted like the texts when a
// serial number with a blank, quote or backslash is in it.

#include <string>

#include "serial/PortList.h"

// One line of the list, without its line end; selectName as UsbSelectName
// gives it (empty: no select= field).
std::string FormatPortLine(const PortInfo& port, const std::string& selectName = std::string());

// Prints the list and ends the program with status 0; when there is no
// port, says so on standard error instead (still status 0).
[[noreturn]] void PrintPortList();
