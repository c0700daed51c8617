#pragma once
// COMPort: the program's only access to the serial line.
//
// Construction opens the port for exclusive use and prepares it (reads wait
// for their whole count, RTS/CTS handshake on); each protocol phase then sets
// the line up with Configure. portState is the object's copy of the line
// settings: every setter changes it and applies it whole, so a refused value
// stays in portState (the getters report it) while the port keeps its
// previous setting. Read time-outs live in the port: each change fetches
// them, changes the read values and writes them back.
//
// Every failing platform call raises a PortError (errors/PortError.h, a
// std::runtime_error) with a fixed text from serial/SerialMessages.h; a refused
// state also carries a detail line naming the setting and, where the
// platform tells, what the port can do (a rate past 2147483647 is named as
// the negative number of the same 32-bit pattern). The class prints nothing.
//
// A read of N bytes under the read time-outs (interval, multiplier, constant):
//   0, 0, 0               waits until all N bytes have arrived
//   0, M, C (not both 0)  returns when N bytes are in or M*N+C ms after it
//                         began, with what arrived (possibly nothing)
//   all ones, 0, 0        returns at once with what has arrived
// A nonzero interval other than all ones also ends a read on a longer gap.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "serial/PortList.h"
#include "serial/PortPlatform.h"

class COMPort {
  public:
    // Opens and prepares the named port. A usb:VID:PID[:SERIAL] name opens
    // the one port the platform lists for that adapter (PortSelector.h; none,
    // several or a malformed name raise kPortOpenFailed with a detail line);
    // every other name goes to the platform as it is. Raises kPortOpenFailed,
    // kPortGetStateFailed, kPortGetTimeoutsFailed, kPortSetTimeoutsFailed or
    // kPortSetStateFailed; when a step after the opening fails, the port is
    // closed again before the error leaves.
    explicit COMPort(const char* name, PortPlatform& platform = SystemPortPlatform());
    // Closes the port, after waiting (bounded, as DrainOutput) for what was
    // written to leave (after an interrupt, DropOutput instead); when no line set-up has turned
    // the RTS/CTS handshake off (a run that ended early), the settings found at open are put back
    // first, so that the next program is not held by the handshake. Raises
    // kPortCloseFailed when closing fails, unless another error is already
    // leaving; never ends the program abnormally.
    ~COMPort() noexcept(false);

    COMPort(const COMPort&) = delete;
    COMPort& operator=(const COMPort&) = delete;

    // Sets up the whole line: the baud rate, no parity, 8 data bits, one stop
    // bit, no hardware flow control (RTS held on), then read time-outs of
    // interval 0, multiplier 0 and readTimeoutMs. A refused step raises and
    // the later steps are not made.
    void Configure(uint32_t baudRate, uint32_t readTimeoutMs);

    // Interval all ones makes both totals 0, whatever is given. The write
    // values are kept.
    void SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant);

    COMPort& SetBaudRate(uint32_t rate);
    COMPort& SetParity(uint8_t code);
    COMPort& SetDataBits(uint8_t count);
    COMPort& SetStopBits(uint8_t code);
    COMPort& SetHardwareFlowControl(bool on);
    COMPort& SetSoftwareFlowControl(bool on);

    // Refills portState from the port. kPortGetStateFailed.
    void LoadState();
    // Applies portState unchanged. kPortSetStateFailed.
    void ApplyState();
    // Sets the line from a definition such as "baud=9600 parity=N data=8
    // stop=1" or "9600,n,8,1" (see PortDefinition.h): the fields it names
    // change in portState, then the time-outs and the state are applied.
    // kPortLineCharacteristicsFailed when the text cannot be parsed (portState
    // is then unchanged) or the time-outs cannot be applied;
    // kPortSetStateFailed when the state is refused.
    void SetLineCharacteristics(const char* definition);

    // Read portState only; they report a refused value as it was set.
    uint32_t GetBaudRate() const;
    uint8_t GetParity() const;
    uint8_t GetDataBits() const;
    uint8_t GetStopBits() const;
    bool GetSoftwareFlowControl() const;

    // Reads up to count bytes under the current read time-outs and returns how
    // many arrived (0 when the time-out passed first). kPortReadFailed.
    // Read and Write raise InterruptedError (errors/Interrupted.h) instead,
    // before or after the transfer, once the operator has asked to end the
    // run (serial/Interrupt.h); a wait that the request cuts short returns.
    uint32_t Read(void* buffer, uint32_t count);
    // Writes the whole buffer; returns the count the platform reports.
    // kPortWriteFailed.
    uint32_t Write(const void* buffer, uint32_t count);
    // The bytes the platform has taken from Write since the port was opened,
    // those of a write that an interrupt or a failure cut short included: the
    // place, in all that was written, where the output queue ends.
    uint64_t BytesWritten() const { return bytesWritten; }

    // Ends the transfer at once, for a run the operator has asked to end:
    // drops what the device still holds for the line, and returns how many of
    // the bytes written it dropped (they never left the computer). Only a
    // device that says it holds bytes (QueuedOutput) is asked to drop them: a
    // pseudo-terminal has no queue to ask (it reads 0) and a drop there would
    // throw away what the other side has not read yet, which has left all
    // the same; so nothing is dropped there, and 0 returned. What the device
    // still holds after the drop (a driver that drops nothing, as USB serial
    // drivers on Linux, sends it before the close) is not counted as dropped,
    // nor are the bytes already in the adapter's own buffer beyond the
    // driver's queue (a few hundred at most), which still go out. A byte that
    // leaves in the instant between the look at the queue and the drop
    // counts as dropped. Never raises.
    uint32_t DropOutput();

    // Waits until what was written has left the port: at most the line time
    // of the bytes still queued at the current rate (10 bits a byte) plus
    // kDrainMarginMs. kPortWriteFailed when the device fails meanwhile.
    void DrainOutput();
    static constexpr uint32_t kDrainMarginMs = 500;

    // Returns only when a byte has arrived, whatever the time-outs.
    uint8_t ReadByte();
    COMPort& WriteByte(uint8_t byte);

    // Start and end a break on the transmit line. Never raise; the platform's
    // result is not looked at.
    COMPort& SetBreak();
    COMPort& ClearBreak();

    // The asserted modem inputs as kModemCts | kModemDsr | kModemRing |
    // kModemCarrier. kPortModemSignalsFailed, also on a device that has no
    // modem lines (a pseudo-terminal).
    uint8_t GetModemSignals();
    // Raises kPortModemLinesFailed, with the detail kPortCannotSetLines
    // (serial/SerialMessages.h), when the port cannot drive DTR and RTS.
    void CheckModemLines();
    // Sets DTR and RTS (1 asserted, 0 dropped, -1 kept) in one change of the
    // port. From then on the lines are held: every later set-up of the line
    // (Configure, the rate, the time-outs) carries them as they are, no
    // set-up re-asserts RTS, and closing the port leaves them as they are.
    // kPortModemLinesFailed.
    void SetModemLines(int dtr, int rts);

    // The platform's capability code for its highest rate (not a rate in bits
    // per second); kMaxBaudProgrammable on POSIX. kPortPropertiesFailed.
    uint32_t GetMaxBaud();

    // Whether the port is still there (PortPlatform::Present): false once
    // it has gone away, or while Reopen has not found it again.
    bool StillThere();
    // For a port that has gone away: gives its handle up and tries once to
    // open the same port again, by the name it was first opened with (for a
    // usb: name, the one port the system now lists for that adapter,
    // whatever its path), then applies the line settings and read time-outs
    // last applied, without the preparation of a first opening. True when
    // the port is open and set up again; false when it is not there (yet),
    // or cannot be set up, and the port stays closed: call again later.
    // Raises InterruptedError, and nothing else, when the operator has asked
    // to end the run. DevicePath() names the device opened.
    bool Reopen();

    // The name the port was opened by, as given.
    const std::string& Name() const { return openedName; }

    // The device that was opened: for a usb: name the path of the port it
    // selected (/dev/ttyUSB0, COM3); otherwise the platform's device for the
    // name (/dev/ttyS0 for COM1 on POSIX, the name as given on Windows).
    const std::string& DevicePath() const;
    // What the system lists for the opened port (USB vendor, product and
    // serial number among it); nullopt when it lists no such port (a
    // pseudo-terminal). For a usb: name, the entry that selected the port,
    // without listing again; otherwise the list is read at this call (so ask
    // while the port is there: an unplugged adapter is no longer listed).
    std::optional<PortInfo> DescribeOpenedPort() const;

  private:
    void Open(const char* name);
    void Prepare();
    // How long the queued bytes take on the line at the applied rate, plus
    // the margin.
    uint32_t DrainLimitMs(uint32_t queued) const;
    void PutBackFoundState();

    PortPlatform& platform;
    PortHandle handle = kInvalidPortHandle;
    std::string openedName;  // the name given to the constructor
    std::string devicePath;
    std::optional<PortInfo> selectedPort;  // the port a usb: name chose
    std::unique_ptr<PortState> portState;
    PortState foundState;                        // as the port was when opened
    PortState appliedState;                      // as last applied without refusal
    PortTimeouts appliedTimeouts;                // as last set
    uint64_t bytesWritten = 0;                   // see BytesWritten
    int uncaughtAtOpen = 0;                      // errors already leaving when the port was opened
    bool interrupted = false;                    // InterruptedError was raised
    uint8_t heldRtsControl = kRtsControlEnable;  // RTS as SetModemLines left it

    // Raises InterruptedError once the operator has asked to end the run.
    void RaiseIfInterrupted();
};
