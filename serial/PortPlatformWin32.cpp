// The port layer on Windows, over the Win32 communications functions. The
// driver keeps the time-outs and applies them itself.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <string>

#include "serial/PortName.h"
#include "serial/PortPlatform.h"

namespace {

HANDLE HandleOf(PortHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

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
    return GetCommState(port, &dcb) != FALSE;
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
    bool GetProperties(PortHandle handle, PortProperties& properties) override;
    bool BuildState(const char* definition, PortState& state, PortTimeouts& timeouts) override;
};

PortHandle Win32PortPlatform::Open(const char* name) {
    if (name == nullptr) {
        return kInvalidPortHandle;
    }
    const std::string device = WindowsDeviceNameForPortName(name);
    // Share mode 0: no other opener while the port is ours. Not overlapped:
    // every read and write has finished when the call returns.
    const HANDLE port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return kInvalidPortHandle;
    }
    DCB dcb;
    if (ReadDcb(port, dcb)) {
        MakeBinaryClean(dcb);
        SetCommState(port, &dcb);
    }
    return reinterpret_cast<PortHandle>(port);
}

bool Win32PortPlatform::Close(PortHandle handle) {
    return CloseHandle(HandleOf(handle)) != FALSE;
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
bool Win32PortPlatform::SetState(PortHandle handle, const PortState& state) {
    const HANDLE port = HandleOf(handle);
    DCB wanted;
    if (!ReadDcb(port, wanted)) {
        return false;
    }
    DcbFromState(state, wanted);
    wanted.fBinary = TRUE;
    DCB actual;
    return SetCommState(port, &wanted) != FALSE && ReadDcb(port, actual) &&
           SameSettings(wanted, actual);
}

bool Win32PortPlatform::GetTimeouts(PortHandle handle, PortTimeouts& timeouts) {
    COMMTIMEOUTS comm{};
    if (!GetCommTimeouts(HandleOf(handle), &comm)) {
        return false;
    }
    TimeoutsFromComm(comm, timeouts);
    return true;
}

bool Win32PortPlatform::SetTimeouts(PortHandle handle, const PortTimeouts& timeouts) {
    COMMTIMEOUTS comm = CommFromTimeouts(timeouts);
    return SetCommTimeouts(HandleOf(handle), &comm) != FALSE;
}

// A read cut short by its time-out is no failure, but a device that has gone
// away may also end reads with no bytes and no failure (a pseudo-terminal
// under a compatibility layer whose other side hung up): the port's status
// tells the two apart, as it cannot be read from a port that is gone.
bool Win32PortPlatform::Read(PortHandle handle, void* buffer, uint32_t count, uint32_t& received) {
    const HANDLE port = HandleOf(handle);
    DWORD arrived = 0;
    const BOOL ok = ReadFile(port, buffer, count, &arrived, nullptr);
    received = arrived;
    if (!ok) {
        return false;
    }
    DWORD errors = 0;
    COMSTAT status{};
    return arrived == count || ClearCommError(port, &errors, &status) != FALSE;
}

// Write time-outs may end a write with part of the buffer handed over; the
// rest follows until all of it has gone to the driver.
bool Win32PortPlatform::Write(PortHandle handle, const void* buffer, uint32_t count,
                              uint32_t& written) {
    written = 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (written < count) {
        DWORD taken = 0;
        if (!WriteFile(HandleOf(handle), bytes + written, count - written, &taken, nullptr)) {
            return false;
        }
        written += taken;
    }
    return true;
}

bool Win32PortPlatform::SetBreak(PortHandle handle) {
    return SetCommBreak(HandleOf(handle)) != FALSE;
}

bool Win32PortPlatform::ClearBreak(PortHandle handle) {
    return ClearCommBreak(HandleOf(handle)) != FALSE;
}

bool Win32PortPlatform::GetModemStatus(PortHandle handle, uint8_t& signals) {
    DWORD status = 0;
    if (!GetCommModemStatus(HandleOf(handle), &status)) {
        return false;
    }
    signals = static_cast<uint8_t>(((status & MS_CTS_ON) != 0 ? kModemCts : 0) |
                                   ((status & MS_DSR_ON) != 0 ? kModemDsr : 0) |
                                   ((status & MS_RING_ON) != 0 ? kModemRing : 0) |
                                   ((status & MS_RLSD_ON) != 0 ? kModemCarrier : 0));
    return true;
}

bool Win32PortPlatform::GetProperties(PortHandle handle, PortProperties& properties) {
    COMMPROP comm{};
    if (!GetCommProperties(HandleOf(handle), &comm)) {
        return false;
    }
    properties.maxBaud = comm.dwMaxBaud;
    return true;
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

PortPlatform& SystemPortPlatform() {
    static Win32PortPlatform platform;
    return platform;
}
