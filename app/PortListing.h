#pragma once
// --list-ports: the serial ports of this machine on standard output, one a
// line: the name to give -P first, then what the system knows of the port as
// key=value pairs (texts of the device in double quotes), for example
//   /dev/ttyUSB0  driver=ftdi_sio usb=0403:6001 manufacturer="FTDI" product="FT232R USB UART"
//   serial="A50285BI" by-id=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0
//   /dev/ttyS0  driver=serial8250
//   COM3  device=\Device\Serial0
// so that a script can take the first word of each line.

#include <string>

#include "serial/PortList.h"

// One line of the list, without its line end.
std::string FormatPortLine(const PortInfo& port);

// Prints the list and ends the program with status 0; when there is no
// port, says so on standard error instead (still status 0).
[[noreturn]] void PrintPortList();
