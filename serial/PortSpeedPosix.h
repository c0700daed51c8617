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

// The clock of a UART that divides it by a whole number, as the kernel's own
// UART driver reports it (the rate at divisor 1); false for every other kind
// of port (USB adapters, pseudo-terminals), whose drivers make their rates in
// their own ways.
bool ReadUartBaseRate(int fd, uint32_t& baseRate);
