#include "serial/COMPort.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include "errors/Interrupted.h"
#include "errors/PortError.h"
#include "serial/Interrupt.h"
#include "serial/PortSelector.h"
#include "serial/SerialMessages.h"

namespace {

[[noreturn]] void Raise(const char* message) {
    throw PortError(message);
}

const char* ParityName(uint8_t parity) {
    static const char* const kNames[] = {"no parity", "odd parity", "even parity", "mark parity",
                                         "space parity"};
    return parity <= kParitySpace ? kNames[parity] : "an unknown parity";
}

const char* StopBitsName(uint8_t stopBits) {
    return stopBits == kStopBitsOne          ? "one stop bit"
           : stopBits == kStopBitsOneAndHalf ? "1.5 stop bits"
           : stopBits == kStopBitsTwo        ? "two stop bits"
                                             : "an unknown number of stop bits";
}

// A rate past the signed 32-bit range is the pattern of a negative rate (the
// program's settings pass one on that way): it is named as the negative
// number, the way it was typed.
std::string RateText(uint32_t rate) {
    return rate > static_cast<uint32_t>(INT32_MAX) ? std::to_string(static_cast<int32_t>(rate))
                                                   : std::to_string(rate);
}

void AddSetting(std::string& list, const std::string& setting) {
    list += (list.empty() ? "" : ", ") + setting;
}

// The settings in which wanted differs from what the port runs with.
std::string RefusedSettings(const PortState& wanted, const PortState& held) {
    std::string list;
    if (wanted.baudRate != held.baudRate) {
        AddSetting(list, RateText(wanted.baudRate) + " baud");
    }
    if (wanted.byteSize != held.byteSize) {
        AddSetting(list, std::to_string(wanted.byteSize) + " data bits");
    }
    if (wanted.parity != held.parity) {
        AddSetting(list, ParityName(wanted.parity));
    }
    if (wanted.stopBits != held.stopBits) {
        AddSetting(list, StopBitsName(wanted.stopBits));
    }
    if (wanted.outxCtsFlow != held.outxCtsFlow || wanted.rtsControl != held.rtsControl) {
        AddSetting(list,
                   std::string("the RTS/CTS handshake ") + (wanted.outxCtsFlow ? "on" : "off"));
    }
    if (wanted.outX != held.outX || wanted.inX != held.inX) {
        AddSetting(list, std::string("XON/XOFF flow control ") + (wanted.outX ? "on" : "off"));
    }
    return list.empty() ? "the line settings" : list;
}

}  // namespace

COMPort::COMPort(const char* name, PortPlatform& portPlatform)
    : platform(portPlatform), uncaughtAtOpen(std::uncaught_exceptions()) {
    portState.reset();
    Open(name);
    try {
        Prepare();
    } catch (...) {
        // The destructor will not run: give the port back so that the next
        // opener is not refused.
        platform.Close(handle);
        handle = kInvalidPortHandle;
        throw;
    }
}

void COMPort::Open(const char* name) {
    openedName = name != nullptr ? name : "";
    if (name != nullptr && IsUsbPortName(name)) {
        selectedPort = SelectUsbPort(name, platform.ListPorts());
        name = selectedPort->path.c_str();
    }
    handle = platform.Open(name);
    if (handle == kInvalidPortHandle) {
        throw PortError(messages::kPortOpenFailed, platform.OpenFailure());
    }
    devicePath = platform.DevicePath(name);
}

const std::string& COMPort::DevicePath() const {
    return devicePath;
}

std::optional<PortInfo> COMPort::DescribeOpenedPort() const {
    if (selectedPort) {
        return selectedPort;
    }
    return FindListedPort(platform.ListPorts(), devicePath);
}

void COMPort::Prepare() {
    portState = std::make_unique<PortState>();
    if (!platform.GetState(handle, *portState)) {
        Raise(messages::kPortGetStateFailed);
    }
    foundState = *portState;
    appliedState = *portState;
    PortTimeouts timeouts;
    if (!platform.GetTimeouts(handle, timeouts)) {
        Raise(messages::kPortGetTimeoutsFailed);
    }
    timeouts.readInterval = 0;
    timeouts.readTotalMultiplier = 0;
    timeouts.readTotalConstant = 0;
    if (!platform.SetTimeouts(handle, timeouts)) {
        Raise(messages::kPortSetTimeoutsFailed);
    }
    appliedTimeouts = timeouts;
    portState->outxCtsFlow = true;
    portState->outxDsrFlow = false;
    portState->rtsControl = kRtsControlHandshake;
    ApplyState();
}

COMPort::~COMPort() noexcept(false) {
    portState.reset();
    if (handle == kInvalidPortHandle) {
        return;
    }
    // A device that fails here fails the close too, or has nothing left to
    // lose: neither result is looked at.
    // Also with nothing queued in the driver: the last bytes may still be in
    // the chip, which some systems' close discards.
    // The operator who asked to end the run wants it ended now: what is
    // still queued is dropped rather than waited for (the session has
    // mostly done so already, and counted it).
    uint32_t queued = 0;
    if (interrupted) {
        DropOutput();
    } else if (platform.QueuedOutput(handle, queued)) {
        platform.DrainOutput(handle, DrainLimitMs(queued));
    }
    PutBackFoundState();
    const bool closed = platform.Close(handle);
    handle = kInvalidPortHandle;
    // Raising while another error unwinds the stack would end the program;
    // the error already on its way is the one worth reporting.
    if (!closed && std::uncaught_exceptions() <= uncaughtAtOpen) {
        Raise(messages::kPortCloseFailed);
    }
}

void COMPort::Configure(uint32_t baudRate, uint32_t readTimeoutMs) {
    SetBaudRate(baudRate);
    SetParity(kParityNone);
    SetDataBits(8);
    SetStopBits(kStopBitsOne);
    SetHardwareFlowControl(false);
    SetReadTimeouts(0, 0, readTimeoutMs);
}

void COMPort::SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
    PortTimeouts timeouts;
    if (!platform.GetTimeouts(handle, timeouts)) {
        Raise(messages::kPortGetTimeoutsFailed);
    }
    timeouts.readInterval = interval;
    if (interval == kReadIntervalReturnAtOnce) {
        timeouts.readTotalMultiplier = 0;
        timeouts.readTotalConstant = 0;
    } else {
        timeouts.readTotalMultiplier = multiplier;
        timeouts.readTotalConstant = constant;
    }
    if (!platform.SetTimeouts(handle, timeouts)) {
        Raise(messages::kPortSetTimeoutsFailed);
    }
    appliedTimeouts = timeouts;
}

COMPort& COMPort::SetBaudRate(uint32_t rate) {
    portState->baudRate = rate;
    ApplyState();
    return *this;
}

COMPort& COMPort::SetParity(uint8_t code) {
    portState->parity = code;
    ApplyState();
    return *this;
}

COMPort& COMPort::SetDataBits(uint8_t count) {
    portState->byteSize = count;
    ApplyState();
    return *this;
}

COMPort& COMPort::SetStopBits(uint8_t code) {
    portState->stopBits = code;
    ApplyState();
    return *this;
}

COMPort& COMPort::SetHardwareFlowControl(bool on) {
    portState->outxCtsFlow = on;
    portState->outxDsrFlow = false;
    // Held lines stay as they were set.
    portState->rtsControl = on                     ? kRtsControlHandshake
                            : portState->linesHeld ? heldRtsControl
                                                   : kRtsControlEnable;
    ApplyState();
    return *this;
}

COMPort& COMPort::SetSoftwareFlowControl(bool on) {
    portState->outX = on;
    portState->inX = on;
    ApplyState();
    return *this;
}

void COMPort::LoadState() {
    if (!platform.GetState(handle, *portState)) {
        Raise(messages::kPortGetStateFailed);
    }
    appliedState = *portState;
}

void COMPort::ApplyState() {
    if (!platform.SetState(handle, *portState)) {
        std::string detail =
            messages::kRefusedSettingPrefix + RefusedSettings(*portState, appliedState);
        const std::string reason = platform.RefusalDetail(handle);
        detail += (reason.empty() ? "" : ": ") + reason + ".";
        throw PortError(messages::kPortSetStateFailed, detail);
    }
    appliedState = *portState;
}

void COMPort::PutBackFoundState() {
    if (appliedState.linesHeld) {
        foundState.dtrControl = appliedState.dtrControl;
        foundState.rtsControl = heldRtsControl;
        foundState.linesHeld = true;
    }
    if (appliedState.outxCtsFlow || appliedState.rtsControl == kRtsControlHandshake) {
        if (!platform.RestoreOpenSettings(handle)) {
            platform.SetState(handle, foundState);
        }
    }
}

uint32_t COMPort::DrainLimitMs(uint32_t queued) const {
    constexpr uint64_t kBitsPerByte = 10;
    const uint64_t rate = std::max<uint32_t>(appliedState.baudRate, 1);
    const uint64_t lineMs = (uint64_t{queued} * kBitsPerByte * 1000 + rate - 1) / rate;
    return static_cast<uint32_t>(std::min<uint64_t>(lineMs + kDrainMarginMs, UINT32_MAX));
}

void COMPort::DrainOutput() {
    uint32_t queued = 0;
    if (!platform.QueuedOutput(handle, queued) ||
        (queued > 0 && !platform.DrainOutput(handle, DrainLimitMs(queued)))) {
        Raise(messages::kPortWriteFailed);
    }
}

uint32_t COMPort::DropOutput() {
    uint32_t queued = 0;
    if (handle == kInvalidPortHandle || !platform.QueuedOutput(handle, queued) || queued == 0 ||
        !platform.DiscardOutput(handle)) {
        return 0;
    }
    // A device gone meanwhile has lost all of it.
    uint32_t kept = 0;
    if (!platform.QueuedOutput(handle, kept)) {
        kept = 0;
    }
    return queued > kept ? queued - kept : 0;
}

void COMPort::SetLineCharacteristics(const char* definition) {
    PortTimeouts timeouts;
    if (!platform.GetTimeouts(handle, timeouts)) {
        Raise(messages::kPortLineCharacteristicsFailed);
    }
    // Parsed into copies, so that a text that cannot be parsed leaves
    // portState as it was.
    PortState state = *portState;
    if (definition == nullptr || !platform.BuildState(definition, state, timeouts)) {
        Raise(messages::kPortLineCharacteristicsFailed);
    }
    *portState = state;
    if (!platform.SetTimeouts(handle, timeouts)) {
        Raise(messages::kPortLineCharacteristicsFailed);
    }
    appliedTimeouts = timeouts;
    ApplyState();
}

bool COMPort::StillThere() {
    return handle != kInvalidPortHandle && platform.Present(handle);
}

bool COMPort::Reopen() {
    RaiseIfInterrupted();
    if (handle != kInvalidPortHandle) {
        // Nothing is left to drain or put back on a device that is gone.
        platform.Close(handle);
        handle = kInvalidPortHandle;
    }
    const std::string name = openedName;
    try {
        Open(name.c_str());
    } catch (const std::runtime_error&) {
        return false;
    }
    PortState found;
    if (platform.GetState(handle, found) && platform.SetTimeouts(handle, appliedTimeouts) &&
        platform.SetState(handle, appliedState)) {
        foundState = found;
        *portState = appliedState;
        return true;
    }
    platform.Close(handle);
    handle = kInvalidPortHandle;
    return false;
}

uint32_t COMPort::GetBaudRate() const {
    return portState->baudRate;
}
uint8_t COMPort::GetParity() const {
    return portState->parity;
}
uint8_t COMPort::GetDataBits() const {
    return portState->byteSize;
}
uint8_t COMPort::GetStopBits() const {
    return portState->stopBits;
}
bool COMPort::GetSoftwareFlowControl() const {
    return portState->outX && portState->inX;
}

void COMPort::RaiseIfInterrupted() {
    const int request = InterruptRequest();
    if (request != 0) {
        interrupted = true;
        throw InterruptedError(request);
    }
}

uint32_t COMPort::Read(void* buffer, uint32_t count) {
    RaiseIfInterrupted();
    uint32_t received = 0;
    const bool ok = platform.Read(handle, buffer, count, received);
    RaiseIfInterrupted();
    if (!ok) {
        Raise(messages::kPortReadFailed);
    }
    return received;
}

uint32_t COMPort::Write(const void* buffer, uint32_t count) {
    RaiseIfInterrupted();
    uint32_t written = 0;
    const bool ok = platform.Write(handle, buffer, count, written);
    bytesWritten += written;
    RaiseIfInterrupted();
    if (!ok) {
        Raise(messages::kPortWriteFailed);
    }
    return written;
}

uint8_t COMPort::ReadByte() {
    uint8_t byte = 0;
    while (Read(&byte, 1) == 0) {
    }
    return byte;
}

COMPort& COMPort::WriteByte(uint8_t byte) {
    Write(&byte, 1);
    return *this;
}

COMPort& COMPort::SetBreak() {
    platform.SetBreak(handle);
    return *this;
}

COMPort& COMPort::ClearBreak() {
    platform.ClearBreak(handle);
    return *this;
}

uint8_t COMPort::GetModemSignals() {
    uint8_t signals = 0;
    if (!platform.GetModemStatus(handle, signals)) {
        Raise(messages::kPortModemSignalsFailed);
    }
    return signals;
}

void COMPort::CheckModemLines() {
    if (!platform.CanSetModemLines(handle)) {
        throw PortError(messages::kPortModemLinesFailed, messages::kPortCannotSetLines);
    }
}

void COMPort::SetModemLines(int dtr, int rts) {
    PortState wanted = *portState;
    if (dtr >= 0) {
        wanted.dtrControl = dtr != 0 ? kDtrControlEnable : kDtrControlDisable;
    }
    if (rts >= 0) {
        wanted.rtsControl = rts != 0 ? kRtsControlEnable : kRtsControlDisable;
    } else if (!wanted.linesHeld) {
        // What a line set-up without handshake holds.
        wanted.rtsControl = kRtsControlEnable;
    } else {
        wanted.rtsControl = heldRtsControl;
    }
    wanted.linesHeld = true;
    if (!platform.SetModemLines(handle, wanted)) {
        throw PortError(messages::kPortModemLinesFailed, messages::kPortCannotSetLines);
    }
    heldRtsControl = wanted.rtsControl;
    // A line with the RTS/CTS handshake on keeps it: RTS is then the
    // handshake's until a set-up turns it off.
    if (portState->rtsControl != kRtsControlHandshake) {
        portState->rtsControl = wanted.rtsControl;
    }
    portState->dtrControl = wanted.dtrControl;
    portState->linesHeld = true;
    appliedState.dtrControl = portState->dtrControl;
    appliedState.rtsControl = portState->rtsControl;
    appliedState.linesHeld = true;
}

uint32_t COMPort::GetMaxBaud() {
    PortProperties properties;
    if (!platform.GetProperties(handle, properties)) {
        Raise(messages::kPortPropertiesFailed);
    }
    return properties.maxBaud;
}
