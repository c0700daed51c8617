// The port layer on POSIX systems, over termios.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>

#include "serial/DivisorRate.h"
#include "serial/Interrupt.h"
#include "serial/PortDefinition.h"
#include "serial/PortName.h"
#include "serial/PortPlatform.h"
#include "serial/PortReadTimer.h"
#include "serial/PortSpeedPosix.h"

namespace {

using Clock = PortReadTimer::Clock;

// POSIX has no time-outs on a terminal: the layer keeps them per open port.
struct PosixPort {
    int fd = -1;
    PortTimeouts timeouts;
    std::string refusal;  // why the last SetState was refused
    termios found{};      // the line as Open found it
    bool foundKnown = false;
    bool linesHeld = false;  // DTR and RTS stay as SetModemLines left them
};

PosixPort& PortOf(PortHandle handle) {
    return *reinterpret_cast<PosixPort*>(handle);
}

constexpr uint32_t kHighestRate = 2147483647u;
constexpr Clock::duration kLongestSingleWait = std::chrono::hours(24);
// A driver may round a rate it can produce only approximately; a read-back
// within 2% is the rate that was asked for.
constexpr uint32_t kRateToleranceDivisor = 50;

#if defined(CRTSCTS)
constexpr tcflag_t kHandshakeFlags = CRTSCTS;
#else
constexpr tcflag_t kHandshakeFlags = 0;
#endif

#if defined(CMSPAR)
constexpr tcflag_t kStickParityFlag = CMSPAR;
#else
constexpr tcflag_t kStickParityFlag = 0;
#endif

struct StandardRate {
    uint32_t rate;
    speed_t code;
};

constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},
#if defined(B460800)
    {460800, B460800},   {500000, B500000},   {576000, B576000},   {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
#endif
};

bool FindSpeedCode(uint32_t rate, speed_t& code) {
    for (const StandardRate& entry : kStandardRates) {
        if (entry.rate == rate) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

bool LineSpeed(int fd, const termios& settings, uint32_t& rate) {
    if (ReadLineSpeed(fd, rate)) {
        return true;
    }
    const speed_t code = cfgetospeed(&settings);
    for (const StandardRate& entry : kStandardRates) {
        if (entry.code == code) {
            rate = entry.rate;
            return true;
        }
    }
    return false;
}

// No echo, no line editing, no signal characters, no CR/LF mapping or flow
// control characters, receiver on, modem lines ignored: every byte passes.
void MakeBinaryClean(termios& settings) {
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                               ICRNL | IXON | IXOFF | IXANY);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &=
        ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag |= CREAD | CLOCAL;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
}

bool SetAttributes(int fd, const termios& settings) {
    int result;
    do {
        result = tcsetattr(fd, TCSANOW, &settings);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// Both an advisory lock and the terminal's exclusive mode: the lock also
// stops a second opener in this process and openers with root rights, the
// exclusive mode also stops programs that do not look at locks.
bool TakeExclusiveUse(int fd) {
    int result;
    do {
        result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        return false;
    }
    ioctl(fd, TIOCEXCL);
    return true;
}

// What this layer cannot express at all; the reason for the operator, or
// empty when the state can be tried.
std::string UnsettableOnPosix(const PortState& state) {
    const bool handshake = state.rtsControl == kRtsControlHandshake;
    if (state.baudRate == 0 || state.baudRate > kHighestRate) {
        return "the rate must be 1 to " + std::to_string(kHighestRate) + " baud";
    }
    if (state.byteSize < 5 || state.byteSize > 8) {
        return "a character has 5 to 8 data bits";
    }
    if (state.parity > kParitySpace || (state.parity >= kParityMark && kStickParityFlag == 0)) {
        return "the system has no such parity";
    }
    if (state.stopBits != kStopBitsOne && state.stopBits != kStopBitsTwo) {
        return "the system has one or two stop bits only";
    }
    if (state.rtsControl > kRtsControlHandshake || state.dtrControl > kDtrControlEnable ||
        state.outxDsrFlow || state.outxCtsFlow != handshake ||
        (handshake && kHandshakeFlags == 0)) {
        return "the system has no such handshake";
    }
    return std::string();
}

// The kernel's UART driver takes a rate its divisor only approximates and
// reads back the rate asked for, so such a rate is refused here.
std::string UnreachableRate(int fd, uint32_t rate) {
    uint32_t baseRate = 0;
    if (!ReadUartBaseRate(fd, baseRate)) {
        return std::string();
    }
    if (rate > baseRate + baseRate / 100) {
        return "the port runs at most " + std::to_string(baseRate) + " baud";
    }
    const uint32_t actual = DivisorRate(baseRate, rate);
    const int32_t tenths = RateDeviationTenths(actual, rate);
    if (tenths >= -kMaxRateDeviationTenths && tenths <= kMaxRateDeviationTenths) {
        return std::string();
    }
    const int32_t size = tenths < 0 ? -tenths : tenths;
    return "the port's clock makes it run at " + std::to_string(actual) + " baud (" +
           (tenths < 0 ? "-" : "+") + std::to_string(size / 10) + "." + std::to_string(size % 10) +
           " %)";
}

tcflag_t SizeFlag(uint8_t byteSize) {
    switch (byteSize) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

tcflag_t ParityFlags(uint8_t parity) {
    switch (parity) {
        case kParityOdd:
            return PARENB | PARODD;
        case kParityEven:
            return PARENB;
        case kParityMark:
            return PARENB | PARODD | kStickParityFlag;
        case kParitySpace:
            return PARENB | kStickParityFlag;
        default:
            return 0;
    }
}

constexpr tcflag_t kFramingFlags =
    CSIZE | PARENB | PARODD | CSTOPB | kStickParityFlag | kHandshakeFlags;
constexpr tcflag_t kInputFlags = IXON | IXOFF | INPCK;

void ApplyFraming(const PortState& state, termios& settings) {
    MakeBinaryClean(settings);
    settings.c_cflag &= ~kFramingFlags;
    settings.c_cflag |= SizeFlag(state.byteSize) | ParityFlags(state.parity);
    if (state.stopBits == kStopBitsTwo) {
        settings.c_cflag |= CSTOPB;
    }
    if (state.outxCtsFlow) {
        settings.c_cflag |= kHandshakeFlags;
    }
    settings.c_iflag &= ~kInputFlags;
    settings.c_iflag |=
        (state.outX ? IXON : 0) | (state.inX ? IXOFF : 0) | (state.parityCheck ? INPCK : 0);
}

bool RateMatches(uint32_t actual, uint32_t wanted) {
    const uint32_t difference = actual > wanted ? actual - wanted : wanted - actual;
    return difference <= wanted / kRateToleranceDivisor;
}

// Drivers may return success for a setting they did not take (a UART that
// cannot make a rate keeps its old one), so what was set is read back. Only
// what the line's data depends on counts: a driver that cannot turn the
// RTS/CTS handshake on clears it, and the line works without it; one that
// keeps it on when it was to go off would stop the output.
std::string SettingsHeld(int fd, const termios& wanted, uint32_t rate) {
    termios actual{};
    uint32_t actualRate = 0;
    if (tcgetattr(fd, &actual) != 0 || !LineSpeed(fd, actual, actualRate)) {
        return "the driver does not report its settings";
    }
    if (!RateMatches(actualRate, rate)) {
        return "the driver runs the port at " + std::to_string(actualRate) + " baud instead";
    }
    constexpr tcflag_t kDataFlags = kFramingFlags & ~kHandshakeFlags;
    const bool handshakeStuck =
        (wanted.c_cflag & kHandshakeFlags) == 0 && (actual.c_cflag & kHandshakeFlags) != 0;
    if ((actual.c_cflag & kDataFlags) != (wanted.c_cflag & kDataFlags) || handshakeStuck ||
        (actual.c_iflag & kInputFlags) != (wanted.c_iflag & kInputFlags)) {
        return "the driver kept a setting of its own";
    }
    return std::string();
}

bool IsMissingModemLines(int error) {
    return error == ENOTTY || error == EINVAL;
}

// RTS held asserted (or dropped) and DTR as the state says. Devices without
// modem lines, such as pseudo-terminals, have nothing to hold.
bool ApplyModemLines(int fd, const PortState& state) {
    int asserted = state.dtrControl == kDtrControlEnable ? TIOCM_DTR : 0;
    int dropped = state.dtrControl == kDtrControlEnable ? 0 : TIOCM_DTR;
    if (state.rtsControl == kRtsControlEnable) {
        asserted |= TIOCM_RTS;
    } else if (state.rtsControl == kRtsControlDisable) {
        dropped |= TIOCM_RTS;
    }
    if ((asserted != 0 && ioctl(fd, TIOCMBIS, &asserted) != 0) ||
        (dropped != 0 && ioctl(fd, TIOCMBIC, &dropped) != 0)) {
        return IsMissingModemLines(errno);
    }
    return true;
}

int WantedLines(int lines, const PortState& state) {
    lines &= ~(TIOCM_DTR | TIOCM_RTS);
    return lines | (state.dtrControl == kDtrControlEnable ? TIOCM_DTR : 0) |
           (state.rtsControl == kRtsControlEnable ? TIOCM_RTS : 0);
}

// DTR and RTS as the state holds them, both in one TIOCMSET, and only when
// the device has drifted from them: two separate calls would show some
// adapters a half-made change, and a repeated value costs a USB adapter a
// control transfer for nothing.
bool HoldModemLines(int fd, const PortState& state) {
    int lines = 0;
    if (ioctl(fd, TIOCMGET, &lines) != 0) {
        return false;
    }
    const int wanted = WantedLines(lines, state);
    return wanted == lines || ioctl(fd, TIOCMSET, &wanted) == 0;
}

// Without HUPCL, closing the port leaves DTR and RTS as they are.
void KeepLinesOnClose(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) == 0 && (settings.c_cflag & HUPCL) != 0) {
        settings.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
        SetAttributes(fd, settings);
    }
}

#if defined(__APPLE__)
// tcsetattr() here refuses any rate outside the standard ones, even the one
// the port already runs at; such a rate is set afterwards with its own call.
void SetStandardSpeed(termios& settings, bool standardRate, speed_t code) {
    const speed_t speed = standardRate ? code : B9600;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
}
#else
// A rate outside the standard ones keeps the line's current speed here and is
// set afterwards with its own call.
void SetStandardSpeed(termios& settings, bool standardRate, speed_t code) {
    if (standardRate) {
        cfsetispeed(&settings, code);
        cfsetospeed(&settings, code);
    }
}
#endif

// Applies state; on a refusal puts the previous settings back and says why
// in refusal (left empty when the system gave no reason).
bool SetLine(int fd, const PortState& state, std::string& refusal) {
    termios previous{};
    if (tcgetattr(fd, &previous) != 0) {
        return false;
    }
    // A rate the line already runs at is not judged again: it may be one
    // another program chose.
    uint32_t currentRate = 0;
    if (!LineSpeed(fd, previous, currentRate) || currentRate != state.baudRate) {
        refusal = UnreachableRate(fd, state.baudRate);
        if (!refusal.empty()) {
            return false;
        }
    }
    termios wanted = previous;
    ApplyFraming(state, wanted);
    speed_t code = B0;
    const bool standardRate = FindSpeedCode(state.baudRate, code);
    SetStandardSpeed(wanted, standardRate, code);
    if (SetAttributes(fd, wanted) && (standardRate || SetArbitraryLineSpeed(fd, state.baudRate))) {
        refusal = SettingsHeld(fd, wanted, state.baudRate);
        if (refusal.empty()) {
            return state.linesHeld ? HoldModemLines(fd, state) : ApplyModemLines(fd, state);
        }
    }
    SetAttributes(fd, previous);
    return false;
}

// Reads what the device holds, without waiting: the count, 0 when nothing is
// there, -1 when the read failed or the device has gone away (end of file).
ssize_t ReadWaiting(int fd, uint8_t* bytes, uint32_t count) {
    for (;;) {
        const ssize_t result = read(fd, bytes, count);
        if (result > 0) {
            return result;
        }
        if (result == 0) {
            return -1;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

// A program started with a standard stream closed would get the port in its
// place: its messages would go to the board, and the keyboard of console mode
// would be the port. Such a descriptor is moved above them.
int AwayFromStandardStreams(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fd);
    return moved;
}

enum class Readiness { Ready, TimedOut, Failed };

// Waits until fd is ready for reading (bytes, or a hang-up that the read will
// report) or writing, or the wait has passed. An interrupted wait counts as
// ready: the transfer finds nothing and the caller recomputes what remains.
Readiness WaitReady(int fd, bool forWriting, Clock::duration wait) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(fd, &ready);
    timeval limit{};
    timeval* limitOrNone = nullptr;
    if (wait != PortReadTimer::kWaitForever) {
        // Some systems refuse select() time-outs of more than 10^8 seconds;
        // a longer wait is made of several, as callers recompute the rest.
        const auto micros =
            std::chrono::ceil<std::chrono::microseconds>(std::min(wait, kLongestSingleWait))
                .count();
        limit.tv_sec = static_cast<decltype(limit.tv_sec)>(micros / 1000000);
        limit.tv_usec = static_cast<decltype(limit.tv_usec)>(micros % 1000000);
        limitOrNone = &limit;
    }
    const int result = select(fd + 1, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr,
                              nullptr, limitOrNone);
    if (result > 0 || (result < 0 && errno == EINTR)) {
        return Readiness::Ready;
    }
    return result == 0 ? Readiness::TimedOut : Readiness::Failed;
}

class PosixPortPlatform : public PortPlatform {
  public:
    PortHandle Open(const char* name) override;
    bool Close(PortHandle handle) override;
    bool GetState(PortHandle handle, PortState& state) override;
    bool SetState(PortHandle handle, const PortState& state) override;
    bool GetTimeouts(PortHandle handle, PortTimeouts& timeouts) override;
    bool SetTimeouts(PortHandle handle, const PortTimeouts& timeouts) override;
    bool Read(PortHandle handle, void* buffer, uint32_t count, uint32_t& received) override;
    bool Write(PortHandle handle, const void* buffer, uint32_t count, uint32_t& written) override;
    bool SetBreak(PortHandle handle) override;
    bool ClearBreak(PortHandle handle) override;
    bool GetModemStatus(PortHandle handle, uint8_t& signals) override;
    bool CanSetModemLines(PortHandle handle) override;
    bool SetModemLines(PortHandle handle, const PortState& state) override;
    bool GetProperties(PortHandle handle, PortProperties& properties) override;
    bool BuildState(const char* definition, PortState& state, PortTimeouts& timeouts) override;
    bool QueuedOutput(PortHandle handle, uint32_t& queued) override;
    bool DrainOutput(PortHandle handle, uint32_t waitMs) override;
    std::string RefusalDetail(PortHandle handle) override;
    std::string OpenFailure() override { return openFailure; }
    bool RestoreOpenSettings(PortHandle handle) override;
    std::string DevicePath(const char* name) override { return DevicePathForPortName(name); }
    std::string DeviceIdentity(const char* name) override {
        const std::string path = DevicePathForPortName(name);
        char* resolved = realpath(path.c_str(), nullptr);
        const std::string identity = resolved != nullptr ? resolved : path;
        std::free(resolved);
        return identity;
    }
    bool DiscardOutput(PortHandle handle) override {
        return tcflush(PortOf(handle).fd, TCOFLUSH) == 0;
    }
    bool Present(PortHandle handle) override;

  private:
    PortHandle OpenFailed(const std::string& path, const char* reason) {
        openFailure = path + ": " + reason;
        return kInvalidPortHandle;
    }

    std::string openFailure;
};

PortHandle PosixPortPlatform::Open(const char* name) {
    if (name == nullptr) {
        return kInvalidPortHandle;
    }
    const std::string path = DevicePathForPortName(name);
    // Not blocking: opening must not wait for carrier, and reads and writes
    // wait for readiness themselves.
    const int fd =
        AwayFromStandardStreams(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd < 0) {
        return OpenFailed(path, std::strerror(errno));
    }
    // select() cannot watch descriptors past FD_SETSIZE.
    if (fd >= FD_SETSIZE) {
        close(fd);
        return OpenFailed(path, std::strerror(EMFILE));
    }
    if (!TakeExclusiveUse(fd)) {
        const int error = errno;
        close(fd);
        return OpenFailed(path, error == EWOULDBLOCK ? "in use by another program"
                                                     : std::strerror(error));
    }
    auto* port = new (std::nothrow) PosixPort;
    if (port == nullptr) {
        close(fd);
        return kInvalidPortHandle;
    }
    port->fd = fd;
    if (tcgetattr(fd, &port->found) == 0) {
        port->foundKnown = true;
        termios settings = port->found;
        MakeBinaryClean(settings);
        SetAttributes(fd, settings);
    }
    return reinterpret_cast<PortHandle>(port);
}

bool PosixPortPlatform::Close(PortHandle handle) {
    PosixPort* port = &PortOf(handle);
    const int fd = port->fd;
    if (port->linesHeld) {
        KeepLinesOnClose(fd);
    }
    delete port;
    ioctl(fd, TIOCNXCL);
    // Some systems drop what is still in the transmitter at the close of a
    // non-blocking descriptor; with the queue empty a blocking close waits
    // only for those last bytes.
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued == 0) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    // After an interrupted close the descriptor is gone all the same.
    return close(fd) == 0 || errno == EINTR;
}

bool PosixPortPlatform::GetState(PortHandle handle, PortState& state) {
    const int fd = PortOf(handle).fd;
    termios settings{};
    uint32_t rate = 0;
    if (tcgetattr(fd, &settings) != 0 || !LineSpeed(fd, settings, rate)) {
        return false;
    }
    state.baudRate = rate;
    const tcflag_t size = settings.c_cflag & CSIZE;
    state.byteSize = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    // Without stick parity, mark and space have the flags of odd and even:
    // the first match is the one the line really has.
    state.parity = kParityNone;
    for (uint8_t parity = kParityOdd; parity <= kParitySpace; ++parity) {
        if ((settings.c_cflag & (PARENB | PARODD | kStickParityFlag)) == ParityFlags(parity)) {
            state.parity = parity;
            break;
        }
    }
    state.stopBits = (settings.c_cflag & CSTOPB) != 0 ? kStopBitsTwo : kStopBitsOne;
    const bool handshake = kHandshakeFlags != 0 && (settings.c_cflag & kHandshakeFlags) != 0;
    state.outxCtsFlow = handshake;
    state.outxDsrFlow = false;
    state.outX = (settings.c_iflag & IXON) != 0;
    state.inX = (settings.c_iflag & IXOFF) != 0;
    state.parityCheck = (settings.c_iflag & INPCK) != 0;
    int lines = 0;
    const bool hasLines = ioctl(fd, TIOCMGET, &lines) == 0;
    const bool rtsOn = !hasLines || (lines & TIOCM_RTS) != 0;
    state.rtsControl =
        handshake ? kRtsControlHandshake : (rtsOn ? kRtsControlEnable : kRtsControlDisable);
    state.dtrControl =
        !hasLines || (lines & TIOCM_DTR) != 0 ? kDtrControlEnable : kDtrControlDisable;
    return true;
}

bool PosixPortPlatform::SetState(PortHandle handle, const PortState& state) {
    PosixPort& port = PortOf(handle);
    port.refusal = UnsettableOnPosix(state);
    return port.refusal.empty() && SetLine(port.fd, state, port.refusal);
}

bool PosixPortPlatform::GetTimeouts(PortHandle handle, PortTimeouts& timeouts) {
    timeouts = PortOf(handle).timeouts;
    return true;
}

bool PosixPortPlatform::SetTimeouts(PortHandle handle, const PortTimeouts& timeouts) {
    PortOf(handle).timeouts = timeouts;
    return true;
}

bool PosixPortPlatform::Read(PortHandle handle, void* buffer, uint32_t count, uint32_t& received) {
    received = 0;
    if (count == 0) {
        return true;
    }
    const PosixPort& port = PortOf(handle);
    auto* bytes = static_cast<uint8_t*>(buffer);
    PortReadTimer timer(port.timeouts, count, Clock::now());
    // Wait first and read after: a silent line then costs one select() per
    // read, which is what keeps the idle loops of the modes cheap. A line
    // with bytes waiting makes select() return at once.
    for (;;) {
        const Clock::duration remaining = timer.Remaining(Clock::now(), received);
        const bool lastRead = remaining <= Clock::duration::zero();
        if (!lastRead) {
            const Readiness readiness = WaitReady(port.fd, false, remaining);
            if (readiness == Readiness::Failed) {
                return false;
            }
            if (readiness == Readiness::TimedOut && remaining <= kLongestSingleWait) {
                return true;
            }
        }
        const ssize_t arrived = ReadWaiting(port.fd, bytes + received, count - received);
        if (arrived < 0) {
            return false;
        }
        if (arrived > 0) {
            received += static_cast<uint32_t>(arrived);
            timer.BytesArrived(Clock::now());
        }
        // A request to end the run cuts the wait short (COMPort raises it).
        if (received == count || lastRead || InterruptRequest() != 0) {
            return true;
        }
    }
}

bool PosixPortPlatform::Write(PortHandle handle, const void* buffer, uint32_t count,
                              uint32_t& written) {
    written = 0;
    const int fd = PortOf(handle).fd;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (written < count) {
        const ssize_t result = write(fd, bytes + written, count - written);
        if (result > 0) {
            written += static_cast<uint32_t>(result);
        } else if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (InterruptRequest() != 0 ||
                WaitReady(fd, true, PortReadTimer::kWaitForever) == Readiness::Failed) {
                return false;
            }
        } else if (result == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool PosixPortPlatform::SetBreak(PortHandle handle) {
    return ioctl(PortOf(handle).fd, TIOCSBRK) == 0;
}

bool PosixPortPlatform::ClearBreak(PortHandle handle) {
    return ioctl(PortOf(handle).fd, TIOCCBRK) == 0;
}

bool PosixPortPlatform::GetModemStatus(PortHandle handle, uint8_t& signals) {
    int lines = 0;
    if (ioctl(PortOf(handle).fd, TIOCMGET, &lines) != 0) {
        return false;
    }
    signals = static_cast<uint8_t>(((lines & TIOCM_CTS) != 0 ? kModemCts : 0) |
                                   ((lines & TIOCM_DSR) != 0 ? kModemDsr : 0) |
                                   ((lines & TIOCM_RNG) != 0 ? kModemRing : 0) |
                                   ((lines & TIOCM_CAR) != 0 ? kModemCarrier : 0));
    return true;
}

// Setting the lines to what they are already shows whether the driver takes
// the call at all (a pseudo-terminal refuses) and changes nothing.
bool PosixPortPlatform::CanSetModemLines(PortHandle handle) {
    const int fd = PortOf(handle).fd;
    int lines = 0;
    return ioctl(fd, TIOCMGET, &lines) == 0 && ioctl(fd, TIOCMSET, &lines) == 0;
}

bool PosixPortPlatform::SetModemLines(PortHandle handle, const PortState& state) {
    PosixPort& port = PortOf(handle);
    int lines = 0;
    if (ioctl(port.fd, TIOCMGET, &lines) != 0) {
        return false;
    }
    const int wanted = WantedLines(lines, state);
    if (ioctl(port.fd, TIOCMSET, &wanted) != 0) {
        return false;
    }
    // From the first change on, also a program that is killed leaves the
    // lines as they are.
    if (!port.linesHeld) {
        KeepLinesOnClose(port.fd);
        port.linesHeld = true;
    }
    return true;
}

bool PosixPortPlatform::GetProperties(PortHandle handle, PortProperties& properties) {
    termios settings{};
    if (tcgetattr(PortOf(handle).fd, &settings) != 0) {
        return false;
    }
    properties.maxBaud = kMaxBaudProgrammable;
    return true;
}

bool PosixPortPlatform::BuildState(const char* definition, PortState& state,
                                   PortTimeouts& timeouts) {
    return ParsePortDefinition(definition, state, timeouts);
}

bool PosixPortPlatform::QueuedOutput(PortHandle handle, uint32_t& queued) {
    int bytes = 0;
    queued = 0;
    if (ioctl(PortOf(handle).fd, TIOCOUTQ, &bytes) != 0) {
        return IsMissingModemLines(errno);
    }
    queued = bytes > 0 ? static_cast<uint32_t>(bytes) : 0;
    return true;
}

bool PosixPortPlatform::DrainOutput(PortHandle handle, uint32_t waitMs) {
    // tcdrain() has no time limit, so the queue is watched instead.
    constexpr auto kLook = std::chrono::milliseconds(2);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        uint32_t queued = 0;
        if (!QueuedOutput(handle, queued)) {
            return false;
        }
        const Clock::time_point now = Clock::now();
        if (queued == 0) {
            // The driver's queue does not count the chip's own transmit FIFO;
            // with the queue empty, tcdrain() waits only the few byte times
            // the FIFO still holds, until the transmitter is empty.
            return tcdrain(PortOf(handle).fd) == 0 || errno != EIO;
        }
        if (now >= deadline) {
            return true;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(kLook, deadline - now));
    }
}

// A terminal that has been hung up (its adapter pulled out, the master of a
// pseudo-terminal closed) fails every request with EIO; a device node whose
// driver has let it go answers ENXIO or ENODEV.
bool PosixPortPlatform::Present(PortHandle handle) {
    termios settings{};
    if (tcgetattr(PortOf(handle).fd, &settings) == 0) {
        return true;
    }
    return errno != EIO && errno != ENXIO && errno != ENODEV;
}

std::string PosixPortPlatform::RefusalDetail(PortHandle handle) {
    return PortOf(handle).refusal;
}

bool PosixPortPlatform::RestoreOpenSettings(PortHandle handle) {
    const PosixPort& port = PortOf(handle);
    termios found = port.found;
    if (port.linesHeld) {
        found.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    }
    return port.foundKnown && SetAttributes(port.fd, found);
}

}  // namespace

PortPlatform& SystemPortPlatform() {
    static PosixPortPlatform platform;
    return platform;
}
