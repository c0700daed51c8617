#pragma once
// How a port name from the command line becomes the name of a device. Each
// platform file picks the mapping of its system.
//
// POSIX systems (DevicePathForPortName):
//   a name containing "/"   the path as it stands    ./ttyV0, /dev/ttyACM0
//   "COM" and a number n    /dev/ttyS(n-1), any case  COM1 -> /dev/ttyS0
//   anything else           looked up under /dev     ttyUSB0 -> /dev/ttyUSB0
//
// Windows (WindowsDeviceNameForPortName):
//   "COM" and digits, any case   in the device namespace   COM12 -> \\.\COM12
//   anything else                unchanged                 \\.\COM3, NUL
// Windows finds only COM1 to COM9 under their plain names; every COM port
// opens under its device-namespace name.

#include <string>

std::string DevicePathForPortName(const char* name);
std::string WindowsDeviceNameForPortName(const char* name);
