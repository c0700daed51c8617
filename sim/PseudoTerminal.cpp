#include "sim/PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace sim {

namespace {

[[noreturn]] void Fail(const char* call) {
    throw std::runtime_error(std::string("pseudo-terminal: ") + call +
                             " failed: " + std::strerror(errno));
}

// ptsname returns a static buffer; ptsname_r is not everywhere.
std::string SlaveName(int master) {
    static std::mutex nameLock;
    std::lock_guard<std::mutex> lock(nameLock);
    const char* name = ptsname(master);
    if (name == nullptr) {
        Fail("ptsname");
    }
    return name;
}

void MakeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        Fail("tcgetattr");
    }
    cfmakeraw(&settings);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        Fail("tcsetattr");
    }
}

}  // namespace

PseudoTerminal::PseudoTerminal(bool keepSlaveOpen, bool raw) {
    // Opened with O_CLOEXEC from the start: a child started by another thread
    // must not inherit the master, or closing ours would not hang up the line.
    master = open("/dev/ptmx", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        Fail("open /dev/ptmx");
    }
    try {
        if (grantpt(master) != 0) {
            Fail("grantpt");
        }
        if (unlockpt(master) != 0) {
            Fail("unlockpt");
        }
        slavePath = SlaveName(master);
        slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) {
            Fail("open slave");
        }
        if (raw) {
            MakeRaw(slave);
        }
        if (!keepSlaveOpen) {
            ::close(slave);
            slave = -1;
        }
        int flags = fcntl(master, F_GETFL);
        if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
            Fail("fcntl");
        }
    } catch (...) {
        Close();
        throw;
    }
}

PseudoTerminal::~PseudoTerminal() {
    Close();
}

void PseudoTerminal::Close() {
    if (slave >= 0) {
        ::close(slave);
        slave = -1;
    }
    if (master >= 0) {
        ::close(master);
        master = -1;
    }
}

}  // namespace sim
