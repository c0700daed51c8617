#pragma once
// Board: a simulated KELVOR boot loader on the master side of a fresh
// pseudo-terminal. A program under test opens SlavePath() as its serial port.
//
// Start() runs the board on a background thread; Run() runs it on the
// calling thread (the kelvor-sim program). The board reads what the host
// sends, records every chunk with its arrival time, answers through
// LoaderProtocol (see LoaderProtocol.h for the exchange) and plays the faults
// of its BoardConfig. With a baud rate set it takes and sends bytes no faster
// than the line would carry them.
//
// A host that was killed without giving the port back leaves it marked for
// exclusive use; the board clears the mark whenever the line is idle, so the
// port can be opened again, as a real one could.
//
// A host that was killed without giving the port back leaves it marked for
// exclusive use; the board clears the mark whenever the line is idle, so the
// port can be opened again, as a real one could.
//
// Every public operation is thread-safe. Waits take a time-out in ms as a
// guard and report whether the event came (false on time-out).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/BoardConfig.h"
#include "sim/LoaderProtocol.h"
#include "sim/PseudoTerminal.h"

namespace sim {

using Clock = std::chrono::steady_clock;

// One read's worth of bytes from the host, with the time it was taken.
struct ReceivedChunk {
    Clock::time_point at;
    std::string bytes;
};

class Board {
  public:
    // Opens the pseudo-terminal at once (SlavePath is valid after
    // construction); nothing is read or sent before Start or Run.
    explicit Board(const BoardConfig& config = BoardConfig());
    // Stops the board and closes the line.
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // The path of the port's pseudo-terminal; another one after Reappear.
    std::string SlavePath() const;
    // Also makes a symbolic link at path to the port, kept pointing at it
    // when it comes back after Vanish, and removed with the board. False
    // when the link cannot be made.
    bool LinkAt(const std::string& path);

    // Runs the board on a background thread until Stop, HangUp or a hang-up
    // fault.
    void Start();
    // Runs the board on the calling thread until Stop is called (from another
    // thread or a signal-safe path through RequestStop), or the board hangs
    // up.
    void Run();
    // Ends the board's loop (and joins the thread Start made). Whatever was
    // queued to send and not sent yet is dropped. The line stays open.
    void Stop();
    // Asks the loop to end; safe to call from a signal handler.
    void RequestStop();

    // Queues bytes to send to the host now, unchanged (paced like any other
    // output). Works while the loader is silent or its protocol is off.
    void Send(const std::string& bytes);
    // Closes the line now (the host's port sees a hang-up) and ends the loop.
    void HangUp();
    // The board's port goes away (its link removed, its line closed: the
    // host's port sees a hang-up), as when a USB adapter is pulled out; what
    // the loader was sending is dropped. The board itself keeps its state,
    // and its started program goes on where it was once the port is back:
    // its next line first (a line cut short goes out whole again).
    void Vanish();
    // The port comes back on a fresh pseudo-terminal (another SlavePath),
    // its link made again to point at it, as when the adapter is put back.
    void Reappear();
    // Waits until the port has gone (gone true) or is there (false).
    bool WaitForVanished(bool gone, int timeoutMs) const;
    // Switches the board off (on: false) or on again. While it is off, what
    // the host sends is still received and recorded but answered by nothing,
    // and what was queued to send is dropped. Switching it on starts its boot
    // loader afresh (a new protocol state, Summary() from zero), as after a
    // power cycle. A board starts switched on.
    void SetPowered(bool on);
    // Switches a board that is off on again as another board of the given
    // configuration (its faults and identity; the line's pace and the log
    // stay as they were): the next board put into the same socket.
    void PowerOnAs(const BoardConfig& config);
    // Asks the board's loop to switch it off or on as SetPowered does; safe
    // in a signal handler (kelvor-sim's SIGUSR1 and SIGUSR2). Every request
    // counts, in the order made, however close together; a board switched
    // off by one stays off at least kRequestedOffMs before a later one
    // switches it on again, as a power supply takes its time to drain, so
    // that a host sees it gone even when "on" follows "off" at once.
    void RequestPower(bool on);
    static constexpr int kRequestedOffMs = 2000;

    // Everything received so far, in order, as one string / as timed chunks.
    std::string Received() const;
    std::vector<ReceivedChunk> ReceivedChunks() const;
    // The time of the first byte received at or after offset in Received()
    // (for measuring gaps between commands); Clock::time_point() if none.
    Clock::time_point ReceivedAt(size_t offset) const;
    int64_t BytesReceived() const;
    // Everything sent to the host so far, in order.
    std::string Sent() const;

    // Waits until Received() contains text (from offset from on).
    bool WaitForReceived(const std::string& text, int timeoutMs, size_t from = 0) const;
    // Waits until at least count bytes have been received.
    bool WaitForBytes(int64_t count, int timeoutMs) const;
    // Waits until count record lines have been counted since the last "R".
    bool WaitForRecords(int count, int timeoutMs) const;
    // Waits until "S" has arrived after a true count.
    bool WaitForStart(int timeoutMs) const;
    // Waits until everything queued has been sent.
    bool WaitForSendIdle(int timeoutMs) const;
    // Waits until the board has hung up (fault or HangUp) or stopped.
    bool WaitForStopped(int timeoutMs) const;

    BoardSummary Summary() const;

  private:
    struct Shared;
    void Loop();
    // The power requests made since the last call, queued in order.
    void TakePowerRequests();
    int ApplyPowerRequests();

    std::unique_ptr<Shared> shared;
    std::thread thread;
};

}  // namespace sim
