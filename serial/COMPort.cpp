#include "serial/COMPort.h"

#include <exception>
#include <stdexcept>

#include "errors/Messages.h"

namespace {

[[noreturn]] void Raise(const char* message) {
    throw std::runtime_error(message);
}

}  // namespace

COMPort::COMPort(const char* name, PortPlatform& portPlatform)
    : platform(portPlatform), uncaughtAtOpen(std::uncaught_exceptions()) {
    portState.reset();
    handle = platform.Open(name);
    if (handle == kInvalidPortHandle) {
        Raise(messages::kPortOpenFailed);
    }
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

void COMPort::Prepare() {
    portState = std::make_unique<PortState>();
    if (!platform.GetState(handle, *portState)) {
        Raise(messages::kPortGetStateFailed);
    }
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
    portState->rtsControl = on ? kRtsControlHandshake : kRtsControlEnable;
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
}

void COMPort::ApplyState() {
    if (!platform.SetState(handle, *portState)) {
        Raise(messages::kPortSetStateFailed);
    }
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
    ApplyState();
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

uint32_t COMPort::Read(void* buffer, uint32_t count) {
    uint32_t received = 0;
    if (!platform.Read(handle, buffer, count, received)) {
        Raise(messages::kPortReadFailed);
    }
    return received;
}

uint32_t COMPort::Write(const void* buffer, uint32_t count) {
    uint32_t written = 0;
    if (!platform.Write(handle, buffer, count, written)) {
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

uint32_t COMPort::GetMaxBaud() {
    PortProperties properties;
    if (!platform.GetProperties(handle, properties)) {
        Raise(messages::kPortPropertiesFailed);
    }
    return properties.maxBaud;
}
