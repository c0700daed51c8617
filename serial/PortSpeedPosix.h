#pragma once
// Line speeds outside the standard termios constants, for the POSIX port
// layer. Kept apart from PortPlatformPosix.cpp because the kernel interface
// for them clashes with <termios.h> on Linux.

#include <cstdint>

// Sets both directions of the terminal fd to rate bits per second through the
// platform's arbitrary-rate call; false when it refuses or has no such call.
bool SetArbitraryLineSpeed(int fd, uint32_t rate);

// The output rate the driver reports in bits per second; false when the
// platform cannot report it beyond the standard constants.
bool ReadLineSpeed(int fd, uint32_t& rate);
