// The port layer on Windows, over the Win32 communications functions. The
// driver keeps the time-outs and applies them itself.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <new>
#include <string>

#include "serial/PortName.h"
#include "serial/PortPlatform.h"
#include "serial/Win32CommApi.h"

namespace {

// An open port and what the layer keeps about it.
struct Win32Port {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string refusal;  // why the last SetState was refused
    DCB found{};          // the line as Open found it
    bool foundKnown = false;
    bool linesHeld = false;  // DTR and RTS stay as SetModemLines left them
};

Win32Port& PortOf(PortHandle handle) {
    return *reinterpret_cast<Win32Port*>(handle);
}

HANDLE HandleOf(PortHandle handle) {
    return PortOf(handle).handle;
}

// How long DrainOutput looks again at a queue that is not empty yet.
constexpr DWORD kDrainPollMs = 2;

struct CapabilityRate {
    DWORD code;
    uint32_t rate;
};

constexpr CapabilityRate kCapabilityRates[] = {
    {BAUD_075, 75},      {BAUD_110, 110},       {BAUD_134_5, 134},   {BAUD_150, 150},
    {BAUD_300, 300},     {BAUD_600, 600},       {BAUD_1200, 1200},   {BAUD_1800, 1800},
    {BAUD_2400, 2400},   {BAUD_4800, 4800},     {BAUD_7200, 7200},   {BAUD_9600, 9600},
    {BAUD_14400, 14400}, {BAUD_19200, 19200},   {BAUD_38400, 38400}, {BAUD_56K, 56000},
    {BAUD_57600, 57600}, {BAUD_115200, 115200}, {BAUD_128K, 128000},
};

// Every byte passes from the moment the port is open: no XON/XOFF (a port
// left that way by another program would swallow 0x11 and 0x13), no dropped
// NUL bytes, no replaced characters, no reads stopped by a line error, no
// bytes discarded while DSR is low.
void MakeBinaryClean(DCB& dcb) {
    dcb.fBinary = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fDsrSensitivity = FALSE;
}

void StateFromDcb(const DCB& dcb, PortState& state) {
    state.baudRate = dcb.BaudRate;
    state.outxCtsFlow = dcb.fOutxCtsFlow != 0;
    state.outxDsrFlow = dcb.fOutxDsrFlow != 0;
    state.rtsControl = static_cast<uint8_t>(dcb.fRtsControl);
    state.dtrControl = static_cast<uint8_t>(dcb.fDtrControl);
    state.outX = dcb.fOutX != 0;
    state.inX = dcb.fInX != 0;
    state.parityCheck = dcb.fParity != 0;
    state.byteSize = dcb.ByteSize;
    state.parity = dcb.Parity;
    state.stopBits = dcb.StopBits;
}

void DcbFromState(const PortState& state, DCB& dcb) {
    dcb.BaudRate = state.baudRate;
    dcb.fOutxCtsFlow = state.outxCtsFlow ? 1 : 0;
    dcb.fOutxDsrFlow = state.outxDsrFlow ? 1 : 0;
    dcb.fRtsControl = state.rtsControl & 3u;
    dcb.fDtrControl = state.dtrControl & 3u;
    dcb.fOutX = state.outX ? 1 : 0;
    dcb.fInX = state.inX ? 1 : 0;
    dcb.fParity = state.parityCheck ? 1 : 0;
    dcb.ByteSize = state.byteSize;
    dcb.Parity = state.parity;
    dcb.StopBits = state.stopBits;
}

// The settings a driver reports back as it holds them. (Some report the RTS
// handshake as RTS held on, so the RTS control is not compared.)
bool SameSettings(const DCB& wanted, const DCB& actual) {
    return wanted.BaudRate == actual.BaudRate && wanted.ByteSize == actual.ByteSize &&
           wanted.Parity == actual.Parity && wanted.StopBits == actual.StopBits &&
           wanted.fOutxCtsFlow == actual.fOutxCtsFlow && wanted.fOutX == actual.fOutX &&
           wanted.fInX == actual.fInX;
}

bool ReadDcb(HANDLE port, DCB& dcb) {
    dcb = DCB{};
    dcb.DCBlength = sizeof dcb;
    return Win32Comm().getCommState(port, &dcb) != FALSE;
}

void TimeoutsFromComm(const COMMTIMEOUTS& comm, PortTimeouts& timeouts) {
    timeouts.readInterval = comm.ReadIntervalTimeout;
    timeouts.readTotalMultiplier = comm.ReadTotalTimeoutMultiplier;
    timeouts.readTotalConstant = comm.ReadTotalTimeoutConstant;
    timeouts.writeTotalMultiplier = comm.WriteTotalTimeoutMultiplier;
    timeouts.writeTotalConstant = comm.WriteTotalTimeoutConstant;
}

COMMTIMEOUTS CommFromTimeouts(const PortTimeouts& timeouts) {
    COMMTIMEOUTS comm{};
    comm.ReadIntervalTimeout = timeouts.readInterval;
    comm.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
    comm.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
    comm.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
    comm.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
    return comm;
}

// The highest rate a port's capability code names; 0 when it names none (a
// port that takes any rate its clock can make).
uint32_t HighestRate(DWORD maxBaud) {
    if ((maxBaud & BAUD_USER) != 0) {
        return 0;
    }
    uint32_t highest = 0;
    for (const CapabilityRate& entry : kCapabilityRates) {
        if (entry.code == maxBaud) {
            highest = entry.rate;
        }
    }
    return highest;
}

bool ParitySettable(WORD settable, uint8_t parity) {
    static constexpr WORD kParityBits[] = {PARITY_NONE, PARITY_ODD, PARITY_EVEN, PARITY_MARK,
                                           PARITY_SPACE};
    return parity <= kParitySpace && (settable & kParityBits[parity]) != 0;
}

bool StopBitsSettable(WORD settable, uint8_t stopBits) {
    static constexpr WORD kStopBits[] = {STOPBITS_10, STOPBITS_15, STOPBITS_20};
    return stopBits <= kStopBitsTwo && (settable & kStopBits[stopBits]) != 0;
}

// Why the port refuses state, from what its driver says it can do; empty
// when that does not tell.
std::string RefusalReason(HANDLE port, const PortState& state) {
    COMMPROP properties{};
    if (!Win32Comm().getCommProperties(port, &properties)) {
        return std::string();
    }
    const uint32_t highest = HighestRate(properties.dwMaxBaud);
    if (highest != 0 && state.baudRate > highest) {
        return "the port runs at most " + std::to_string(highest) + " baud";
    }
    if (properties.wSettableData != 0 && state.byteSize >= 5 && state.byteSize <= 8 &&
        (properties.wSettableData & (DATABITS_5 << (state.byteSize - 5))) == 0) {
        return "the port has no " + std::to_string(state.byteSize) + " data bits";
    }
    const WORD stopParity = properties.wSettableStopParity;
    if (stopParity != 0 && !ParitySettable(stopParity, state.parity)) {
        return "the port has no such parity";
    }
    if (stopParity != 0 && !StopBitsSettable(stopParity, state.stopBits)) {
        return "the port has no such number of stop bits";
    }
    return std::string();
}

// Applies the state over what the port has, and reads back what it holds.
bool ApplyDcb(HANDLE port, const PortState& state, DCB& wanted, DCB& actual) {
    if (!ReadDcb(port, wanted)) {
        return false;
    }
    DcbFromState(state, wanted);
    wanted.fBinary = TRUE;
    return Win32Comm().setCommState(port, &wanted) != FALSE && ReadDcb(port, actual);
}

class Win32PortPlatform : public PortPlatform {
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
    bool QueuedOutput(PortHandle handle, uint32_t& queued) override;
    bool DrainOutput(PortHandle handle, uint32_t waitMs) override;
    std::string RefusalDetail(PortHandle handle) override;
    bool RestoreOpenSettings(PortHandle handle) override;
    bool DiscardOutput(PortHandle handle) override {
        return Win32Comm().purgeComm(HandleOf(handle), PURGE_TXABORT | PURGE_TXCLEAR) != 0;
    }
    bool BuildState(const char* definition, PortState& state, PortTimeouts& timeouts) override;
    bool Present(PortHandle handle) override;
};

PortHandle Win32PortPlatform::Open(const char* name) {
    if (name == nullptr) {
        return kInvalidPortHandle;
    }
    const std::string device = WindowsDeviceNameForPortName(name);
    // Share mode 0: no other opener while the port is ours. Not overlapped:
    // every read and write has finished when the call returns.
    const HANDLE port =
        Win32Comm().createFile(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return kInvalidPortHandle;
    }
    auto* record = new (std::nothrow) Win32Port;
    if (record == nullptr) {
        Win32Comm().closeHandle(port);
        return kInvalidPortHandle;
    }
    record->handle = port;
    DCB dcb;
    if (ReadDcb(port, dcb)) {
        record->found = dcb;
        record->foundKnown = true;
        MakeBinaryClean(dcb);
        Win32Comm().setCommState(port, &dcb);
    }
    return reinterpret_cast<PortHandle>(record);
}

bool Win32PortPlatform::Close(PortHandle handle) {
    Win32Port* record = &PortOf(handle);
    const HANDLE port = record->handle;
    delete record;
    return Win32Comm().closeHandle(port) != FALSE;
}

bool Win32PortPlatform::GetState(PortHandle handle, PortState& state) {
    DCB dcb;
    if (!ReadDcb(HandleOf(handle), dcb)) {
        return false;
    }
    StateFromDcb(dcb, state);
    return true;
}

// The fields the state does not carry keep what the port has; a driver that
// takes a setting without applying it is caught by reading the state back.
// A driver that cannot turn the RTS/CTS handshake on runs without it.
bool Win32PortPlatform::SetState(PortHandle handle, const PortState& state) {
    Win32Port& record = PortOf(handle);
    record.refusal.clear();
    DCB previous;
    if (!ReadDcb(record.handle, previous)) {
        return false;
    }
    DCB wanted;
    DCB actual;
    bool held = ApplyDcb(record.handle, state, wanted, actual) && SameSettings(wanted, actual);
    if (!held && state.outxCtsFlow) {
        PortState withoutHandshake = state;
        withoutHandshake.outxCtsFlow = false;
        withoutHandshake.rtsControl = kRtsControlEnable;
        held = ApplyDcb(record.handle, withoutHandshake, wanted, actual) &&
               SameSettings(wanted, actual);
    }
    if (!held) {
        Win32Comm().setCommState(record.handle, &previous);
        record.refusal = RefusalReason(record.handle, state);
    }
    return held;
}

bool Win32PortPlatform::GetTimeouts(PortHandle handle, PortTimeouts& timeouts) {
    COMMTIMEOUTS comm{};
    if (!Win32Comm().getCommTimeouts(HandleOf(handle), &comm)) {
        return false;
    }
    TimeoutsFromComm(comm, timeouts);
    return true;
}

bool Win32PortPlatform::SetTimeouts(PortHandle handle, const PortTimeouts& timeouts) {
    COMMTIMEOUTS comm = CommFromTimeouts(timeouts);
    return Win32Comm().setCommTimeouts(HandleOf(handle), &comm) != FALSE;
}

// A read cut short by its time-out is no failure, but a device that has gone
// away may also end reads with no bytes and no failure (a pseudo-terminal
// under a compatibility layer whose other side hung up): the port's status
// tells the two apart, as it cannot be read from a port that is gone.
bool Win32PortPlatform::Read(PortHandle handle, void* buffer, uint32_t count, uint32_t& received) {
    const HANDLE port = HandleOf(handle);
    DWORD arrived = 0;
    const BOOL ok = Win32Comm().readFile(port, buffer, count, &arrived, nullptr);
    received = arrived;
    if (!ok) {
        return false;
    }
    DWORD errors = 0;
    COMSTAT status{};
    return arrived == count || Win32Comm().clearCommError(port, &errors, &status) != FALSE;
}

// Write time-outs may end a write with part of the buffer handed over; the
// rest follows until all of it has gone to the driver.
bool Win32PortPlatform::Write(PortHandle handle, const void* buffer, uint32_t count,
                              uint32_t& written) {
    written = 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (written < count) {
        DWORD taken = 0;
        if (!Win32Comm().writeFile(HandleOf(handle), bytes + written, count - written, &taken,
                                   nullptr)) {
            return false;
        }
        written += taken;
    }
    return true;
}

// The port's status cannot be read from a device that has gone away (see
// Read); an idle console asks this to notice it.
bool Win32PortPlatform::Present(PortHandle handle) {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(HandleOf(handle), &errors, &status) != FALSE;
}

bool Win32PortPlatform::SetBreak(PortHandle handle) {
    return Win32Comm().setCommBreak(HandleOf(handle)) != FALSE;
}

bool Win32PortPlatform::ClearBreak(PortHandle handle) {
    return Win32Comm().clearCommBreak(HandleOf(handle)) != FALSE;
}

bool Win32PortPlatform::GetModemStatus(PortHandle handle, uint8_t& signals) {
    DWORD status = 0;
    if (!Win32Comm().getCommModemStatus(HandleOf(handle), &status)) {
        return false;
    }
    signals = static_cast<uint8_t>(((status & MS_CTS_ON) != 0 ? kModemCts : 0) |
                                   ((status & MS_DSR_ON) != 0 ? kModemDsr : 0) |
                                   ((status & MS_RING_ON) != 0 ? kModemRing : 0) |
                                   ((status & MS_RLSD_ON) != 0 ? kModemCarrier : 0));
    return true;
}

// A port whose modem status cannot be read has no lines to drive (a
// pseudo-terminal under a compatibility layer, which would take the calls
// that set them without a word).
bool Win32PortPlatform::CanSetModemLines(PortHandle handle) {
    DWORD status = 0;
    return Win32Comm().getCommModemStatus(HandleOf(handle), &status) != FALSE;
}

// Both lines in one device control block; then DTR once more on its own,
// since the USB CDC driver passes the line state on to the device when DTR
// is set, not when only RTS changes.
bool Win32PortPlatform::SetModemLines(PortHandle handle, const PortState& state) {
    Win32Port& record = PortOf(handle);
    DCB dcb;
    if (!ReadDcb(record.handle, dcb)) {
        return false;
    }
    dcb.fDtrControl = state.dtrControl & 3u;
    dcb.fRtsControl = state.rtsControl & 3u;
    const DWORD dtr = state.dtrControl == kDtrControlEnable ? SETDTR : CLRDTR;
    if (!Win32Comm().setCommState(record.handle, &dcb) ||
        !Win32Comm().escapeCommFunction(record.handle, dtr)) {
        return false;
    }
    record.linesHeld = true;
    return true;
}

bool Win32PortPlatform::GetProperties(PortHandle handle, PortProperties& properties) {
    COMMPROP comm{};
    if (!Win32Comm().getCommProperties(HandleOf(handle), &comm)) {
        return false;
    }
    properties.maxBaud = comm.dwMaxBaud;
    return true;
}

// The driver's output queue, from the port's status.
bool Win32PortPlatform::QueuedOutput(PortHandle handle, uint32_t& queued) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!Win32Comm().clearCommError(HandleOf(handle), &errors, &status)) {
        return false;
    }
    queued = status.cbOutQue;
    return true;
}

// Waits for the queue to empty, then for the last bytes to leave the device.
// FlushFileBuffers has no time limit, so it is only called once the queue is
// empty, when it returns promptly.
bool Win32PortPlatform::DrainOutput(PortHandle handle, uint32_t waitMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        uint32_t queued = 0;
        if (!QueuedOutput(handle, queued)) {
            return false;
        }
        if (queued == 0) {
            Win32Comm().flushFileBuffers(HandleOf(handle));
            return true;
        }
        const DWORD waited = GetTickCount() - start;
        if (waited >= waitMs) {
            return true;
        }
        Sleep(waitMs - waited < kDrainPollMs ? waitMs - waited : kDrainPollMs);
    }
}

std::string Win32PortPlatform::RefusalDetail(PortHandle handle) {
    return PortOf(handle).refusal;
}

bool Win32PortPlatform::RestoreOpenSettings(PortHandle handle) {
    Win32Port& record = PortOf(handle);
    if (!record.foundKnown) {
        return false;
    }
    DCB found = record.found;
    DCB current;
    if (record.linesHeld && ReadDcb(record.handle, current)) {
        found.fDtrControl = current.fDtrControl;
        found.fRtsControl = current.fRtsControl;
    }
    return Win32Comm().setCommState(record.handle, &found) != FALSE;
}

bool Win32PortPlatform::BuildState(const char* definition, PortState& state,
                                   PortTimeouts& timeouts) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    DcbFromState(state, dcb);
    COMMTIMEOUTS comm = CommFromTimeouts(timeouts);
    if (definition == nullptr || !BuildCommDCBAndTimeoutsA(definition, &dcb, &comm)) {
        return false;
    }
    StateFromDcb(dcb, state);
    TimeoutsFromComm(comm, timeouts);
    return true;
}

}  // namespace

Win32CommApi& Win32Comm() {
    static Win32CommApi api;
    return api;
}

PortPlatform& SystemPortPlatform() {
    static Win32PortPlatform platform;
    return platform;
}
