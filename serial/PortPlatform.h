#pragma once
// The platform layer under COMPort: the few operating-system calls a serial
// port needs, behind one interface. Each platform has one implementation file
// (PortPlatformPosix.cpp, PortPlatformWin32.cpp); the build picks it.
// Tests substitute a fake that records calls and can refuse any of them.
//
// Every call returns true on success and false on failure; COMPort turns a
// failure into its fixed error message. The layer itself never throws.

#include <cstdint>
#include <string>
#include <vector>

#include "serial/PortList.h"

// The line settings of a port: a portable record of the device control block
// fields the program works with.
struct PortState {
    uint32_t baudRate = 0;
    bool outxCtsFlow = false;  // transmit only while the peer asserts CTS
    bool outxDsrFlow = false;  // transmit only while the peer asserts DSR
    uint8_t rtsControl = 1;    // kRtsControl*
    uint8_t dtrControl = 1;    // kDtrControl*; kept as found
    bool outX = false;         // XON/XOFF flow control of transmission
    bool inX = false;          // XON/XOFF flow control of reception
    bool parityCheck = false;  // kept as found
    uint8_t byteSize = 8;      // data bits, 5..8
    uint8_t parity = 0;        // kParity*
    uint8_t stopBits = 0;      // kStopBits*
    // DTR and RTS were set by the program (SetModemLines) and stay as they
    // are: applying the state carries them unchanged, in one change when the
    // device has drifted, and nothing re-asserts them by itself.
    bool linesHeld = false;
};

inline constexpr uint8_t kRtsControlDisable = 0;
inline constexpr uint8_t kRtsControlEnable = 1;
inline constexpr uint8_t kRtsControlHandshake = 2;
inline constexpr uint8_t kRtsControlToggle = 3;  // asserted while sending
inline constexpr uint8_t kDtrControlDisable = 0;
inline constexpr uint8_t kDtrControlEnable = 1;
inline constexpr uint8_t kDtrControlHandshake = 2;

inline constexpr uint8_t kParityNone = 0;
inline constexpr uint8_t kParityOdd = 1;
inline constexpr uint8_t kParityEven = 2;
inline constexpr uint8_t kParityMark = 3;
inline constexpr uint8_t kParitySpace = 4;

inline constexpr uint8_t kStopBitsOne = 0;
inline constexpr uint8_t kStopBitsOneAndHalf = 1;
inline constexpr uint8_t kStopBitsTwo = 2;

// The five time-out values of a port, in milliseconds. See COMPort.h for what
// a read does under the read values.
struct PortTimeouts {
    uint32_t readInterval = 0;
    uint32_t readTotalMultiplier = 0;
    uint32_t readTotalConstant = 0;
    uint32_t writeTotalMultiplier = 0;
    uint32_t writeTotalConstant = 0;
};

// Interval value that makes a read return at once with what has arrived.
inline constexpr uint32_t kReadIntervalReturnAtOnce = 0xFFFFFFFFu;

// Modem input signals, as reported by GetModemStatus.
inline constexpr uint8_t kModemCts = 0x10;
inline constexpr uint8_t kModemDsr = 0x20;
inline constexpr uint8_t kModemRing = 0x40;
inline constexpr uint8_t kModemCarrier = 0x80;

struct PortProperties {
    uint32_t maxBaud = 0;  // the platform's capability code for its highest rate
};

// Capability code of a port that takes any rate its driver can produce; what
// the POSIX layer reports.
inline constexpr uint32_t kMaxBaudProgrammable = 0x10000000u;

// An open port as the platform knows it. Opaque above this layer.
using PortHandle = std::intptr_t;
inline constexpr PortHandle kInvalidPortHandle = -1;

class PortPlatform {
  public:
    virtual ~PortPlatform() = default;

    // Opens the named port for exclusive reading and writing; kInvalidPortHandle
    // when it cannot be opened (missing, or held by another opener). The line
    // passes every byte unchanged from here on. A path that is not a serial
    // device may open; reading its state then fails.
    virtual PortHandle Open(const char* name) = 0;
    // Gives the port back (exclusive use ends); the handle is invalid
    // afterwards even when this reports a failure.
    virtual bool Close(PortHandle handle) = 0;

    // Read and apply the line settings. SetState refuses what the device
    // cannot do, and what the driver accepted without applying it, except the
    // RTS/CTS handshake: a device that cannot turn it on runs without it (the
    // state read back says so); one that cannot turn it off refuses. A
    // refused state leaves the port as it was.
    virtual bool GetState(PortHandle handle, PortState& state) = 0;
    virtual bool SetState(PortHandle handle, const PortState& state) = 0;
    // The time-outs belong to the handle; the write values are kept as given.
    virtual bool GetTimeouts(PortHandle handle, PortTimeouts& timeouts) = 0;
    virtual bool SetTimeouts(PortHandle handle, const PortTimeouts& timeouts) = 0;

    // Reads up to count bytes under the handle's read time-outs; received is
    // how many arrived (possibly 0 when the time-out ended the read).
    virtual bool Read(PortHandle handle, void* buffer, uint32_t count, uint32_t& received) = 0;
    // Hands the whole buffer over before it returns; written is the count.
    virtual bool Write(PortHandle handle, const void* buffer, uint32_t count,
                       uint32_t& written) = 0;

    // Start and end the break condition on the transmit line.
    virtual bool SetBreak(PortHandle handle) = 0;
    virtual bool ClearBreak(PortHandle handle) = 0;
    // Fills in the kModem* bits of the asserted inputs; false on a device
    // without modem lines (a pseudo-terminal).
    virtual bool GetModemStatus(PortHandle handle, uint8_t& signals) = 0;
    // The port can drive DTR and RTS (a pseudo-terminal cannot; a driver may
    // refuse). Changes nothing on the lines.
    virtual bool CanSetModemLines(PortHandle /*handle*/) { return false; }
    // Sets DTR and RTS as state's dtrControl and rtsControl say (enable or
    // disable), both in one change of the device, so that no adapter ever
    // shows half of it. From here on the port's lines are held: giving the
    // port back leaves them as they are (no hang-up on close; restoring the
    // settings found at open keeps them) where the system lets the program
    // decide.
    virtual bool SetModemLines(PortHandle /*handle*/, const PortState& /*state*/) { return false; }
    virtual bool GetProperties(PortHandle handle, PortProperties& properties) = 0;

    // Bytes that Write has handed over and the device has not yet sent on the
    // line (the driver's output queue: TIOCOUTQ on POSIX, ClearCommError's
    // cbOutQue on Windows). Not the bytes the chip or a USB adapter holds
    // beyond the driver. 0 when the platform cannot tell, and on a Linux
    // pseudo-terminal, which passes every byte to its other side at once.
    // False when the device fails (gone away).
    virtual bool QueuedOutput(PortHandle handle, uint32_t& queued) = 0;
    // Waits until everything written has left the device, or waitMs have
    // passed, whichever comes first; a line stopped by the peer or a device
    // that never empties cannot hold the caller longer than that. Running out
    // of time is not a failure; false only when the device fails.
    virtual bool DrainOutput(PortHandle handle, uint32_t waitMs) = 0;
    // Drops what Write has handed over and the device has not sent yet (a
    // driver may keep some or all of it: QueuedOutput tells). On a
    // pseudo-terminal it throws away what the other side has not read yet.
    // False when the platform cannot.
    virtual bool DiscardOutput(PortHandle /*handle*/) { return false; }
    // Why the last SetState on handle that returned false was refused, as a
    // short clause for the operator, for example "the port runs at most
    // 115200 baud"; empty when the platform has nothing to add to the fact.
    virtual std::string RefusalDetail(PortHandle handle) = 0;
    // Why the last Open that returned kInvalidPortHandle failed, as
    // "DEVICE: reason": the device the name led to and the system's own
    // words for the failure (missing, busy, no permission, ...). Empty when
    // the platform has nothing to add.
    virtual std::string OpenFailure() { return std::string(); }
    // Puts back every setting of the line as Open found it, including those
    // PortState does not describe (a terminal's line discipline on POSIX).
    // False when the platform cannot; the caller then applies the PortState
    // it read at open instead.
    virtual bool RestoreOpenSettings(PortHandle /*handle*/) { return false; }

    // Whether the device behind handle is still there: false once it has
    // gone away (an adapter pulled out, the far side of a pseudo-terminal
    // closed), when nothing but closing the handle is left to do with it;
    // true while it is there, and when the platform cannot tell.
    virtual bool Present(PortHandle /*handle*/) { return true; }

    // The device that Open(name) opens, as a path or name for the operator:
    // on POSIX the path after the mapping of PortName.h (/dev/ttyS0 for
    // COM1); on Windows the name as given.
    virtual std::string DevicePath(const char* name) { return name; }
    // What Open(name) would open, the same text for every name of one
    // device: on POSIX the device path with its links resolved (as it
    // stands when it does not exist), on Windows the device name in one
    // case (COM3 and com3 are one port). For telling names of one device
    // apart before any is opened.
    virtual std::string DeviceIdentity(const char* name) { return DevicePath(name); }
    // The ports the system lists (PortList.h), for choosing one by the USB
    // identity of its adapter.
    virtual std::vector<PortInfo> ListPorts() { return ListSerialPorts(); }

    // Parses a line definition ("baud=9600 parity=N data=8 stop=1 to=on" or
    // "9600,n,8,1") into state and timeouts; only the fields the text names
    // change. False when the text cannot be parsed.
    virtual bool BuildState(const char* definition, PortState& state, PortTimeouts& timeouts) = 0;
};

// The platform layer of the system the program was built for.
PortPlatform& SystemPortPlatform();
