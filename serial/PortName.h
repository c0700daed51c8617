#pragma once
// How a port name from the command line becomes a device path on POSIX
// systems:
//   a name containing "/"   the path as it stands    ./ttyV0, /dev/ttyACM0
//   "COM" and a number n    /dev/ttyS(n-1), any case  COM1 -> /dev/ttyS0
//   anything else           looked up under /dev     ttyUSB0 -> /dev/ttyUSB0

#include <string>

std::string DevicePathForPortName(const char* name);
