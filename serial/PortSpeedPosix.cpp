#include "serial/PortSpeedPosix.h"

#if defined(__linux__)

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/major.h>
#include <linux/serial.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

// <sys/ioctl.h> would bring <termios.h> definitions that clash with the
// kernel's struct termios2 above.
extern "C" int ioctl(int fd, unsigned long request, ...);

bool SetArbitraryLineSpeed(int fd, uint32_t rate) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) {
        return false;
    }
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = rate;
    settings.c_ospeed = rate;
    return ioctl(fd, TCSETS2, &settings) == 0;
}

bool ReadLineSpeed(int fd, uint32_t& rate) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) {
        return false;
    }
    rate = settings.c_ospeed;
    return true;
}

// Only the ports of the kernel's serial driver (major TTY_MAJOR, the ttyS
// devices) with a UART of the 8250 family: USB adapters report such types too,
// with clocks that do not describe how they divide.
bool ReadUartBaseRate(int fd, uint32_t& baseRate) {
    struct stat device {};
    if (fstat(fd, &device) != 0 || !S_ISCHR(device.st_mode) || major(device.st_rdev) != TTY_MAJOR) {
        return false;
    }
    struct serial_struct serial {};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || serial.type < PORT_8250 || serial.type > PORT_RSA ||
        serial.baud_base <= 0) {
        return false;
    }
    baseRate = static_cast<uint32_t>(serial.baud_base);
    return true;
}

#elif defined(__APPLE__)

#include <IOKit/serial/ioss.h>
#include <sys/ioctl.h>
#include <termios.h>

bool SetArbitraryLineSpeed(int fd, uint32_t rate) {
    speed_t speed = rate;
    return ioctl(fd, IOSSIOSPEED, &speed) == 0;
}

// termios on this platform carries the rate as a plain number.
bool ReadLineSpeed(int fd, uint32_t& rate) {
    struct termios settings {};
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    rate = static_cast<uint32_t>(cfgetospeed(&settings));
    return true;
}

bool ReadUartBaseRate(int, uint32_t&) {
    return false;
}

#else

bool SetArbitraryLineSpeed(int, uint32_t) {
    return false;
}

bool ReadLineSpeed(int, uint32_t&) {
    return false;
}

bool ReadUartBaseRate(int, uint32_t&) {
    return false;
}

#endif
