#pragma once
// AcmGadget: the board's second transport. Instead of a pseudo-terminal that
// the host opens, the board becomes a USB CDC-ACM serial function of this
// machine's own USB device controller (Linux: configfs and FunctionFS), so
// that the host's CDC-ACM driver makes a serial port of it (/dev/ttyACM0 when
// host and device controller are the two halves of dummy_hcd).
//
// The board itself (Board, LoaderProtocol) is the one of the pseudo-terminal:
// the gadget carries the bytes between its bulk endpoints and the board's
// pseudo-terminal, so that the board reads and answers as it always does. What
// a pseudo-terminal cannot carry is the gadget's own: every control request
// of the host's driver (SET_CONTROL_LINE_STATE with DTR and RTS,
// SET_LINE_CODING with the rate, SEND_BREAK with its time) is written to a
// line log, one line each with the milliseconds since the gadget was made
// ("120 dtr=1 rts=1", "121 rate=115200", "300 break=65535"); the board's
// input lines (DSR, DCD, RI) go to the host as SERIAL_STATE notifications;
// and the board's power may follow one of the host's output lines.
//
// The gadget is bound to its device controller once its endpoints are ready
// and unbound (the host sees the device unplugged) before it is taken down.
// Errors in setting up raise std::runtime_error with the failing step named.

#include <memory>
#include <string>

namespace sim {

class Board;

// One of the lines of a serial port, as the gadget knows them.
enum class AcmLine { None, Dtr, Rts, Dsr, Dcd, Ri };

// The name on the command line ("dtr", "dsr", ...) of a line; None for any
// other text.
AcmLine AcmLineNamed(const std::string& name);

struct AcmGadgetConfig {
    // The USB device controller to bind to, e.g. "dummy_udc.0".
    std::string controller;
    // The gadget's name in configfs and FunctionFS.
    std::string name = "kelvor";
    // Where every control request and line change is written; empty: nowhere.
    std::string lineLogPath;
    // An output line of the host (Dtr or Rts) the board's power follows:
    // asserted, the board is on; None: the power stays as it is.
    AcmLine powerLine = AcmLine::None;
    // An input line (Dsr, Dcd or Ri) that plays a fixture's start signal:
    // on at the start; signalGapMs after each complete download off (the lid
    // opened), and on again signalGapMs later (the next board in).
    AcmLine startSignal = AcmLine::None;
    int signalGapMs = 300;
};

class AcmGadget {
  public:
    // Nothing is set up before Start.
    AcmGadget(Board& board, const AcmGadgetConfig& config);
    // Stops (unbinds and takes the gadget down) if Start succeeded.
    ~AcmGadget();
    AcmGadget(const AcmGadget&) = delete;
    AcmGadget& operator=(const AcmGadget&) = delete;

    // Makes the gadget (taking down one of the same name that a stopped run
    // left), writes its descriptors, starts carrying bytes and binds it to
    // the controller. The board's power is set from powerLine's state
    // (off until the host asserts it).
    void Start();
    // Unbinds the gadget, ends its threads and takes it down. Idempotent.
    void Stop();

  private:
    struct State;
    std::unique_ptr<State> state;
};

}  // namespace sim
