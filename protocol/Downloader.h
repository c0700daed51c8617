#pragma once
// Downloader: the command exchange with the board's boot loader and the
// download session built on it.
//
// Wire protocol: the host sends a one-letter command and CR LF; the board
// answers with lines ended by CR, LF, CR LF or LF CR. A line beginning with
// "+" acknowledges; one beginning with "-" is a message for the operator
// (printed without its "-"); anything else is ignored.
//
// The session, one Step at a time, passes these states in order and never
// returns to an earlier one:
//   StatePrompt    line set up with a 50 ms read time-out; power-cycle prompt
//                  (unless options.showPrompt is off), or in its place
//                  options.boardStarter starts the board
//   StateIdentify  "?" until a "+" line; greeting drained at 500 ms; then the
//                  line is set to 3,000 ms for the rest of the session
//   StateRequest   "R" until a "+" line
//   StateUpload    one line of the data file per step; lines beginning with
//                  ":" are sent (one write each, with CR LF, see
//                  PrepareRecordLine; through ProtocolOptions::recordFilter
//                  when there is one), the others skipped; progress every
//                  100 record lines and at the end
//   StateCount     "C" until a "+" line; its number must match the count sent
//   StateFlash     with writeFlash, "W" once, and its "+" awaited
//   StateStart     with sendStart, "S" once; no reply awaited (closing the
//                  port waits for it to leave)
// "R", "C" and "W" go out as an exchange: first the line is settled (what the
// board still sends is taken until it has been quiet for kQuietMs, and a "+"
// among it is dropped: an answer that came before the command cannot be its
// answer, only a late one to an earlier command); then the command is sent,
// and the reply's time-out starts once the command has left the port (its
// output queue drained, bounded by the line time).
//   StateDone      the session is over
// Silence while waiting for "?", "R" or "C" sends the command again, without
// limit, or with ProtocolOptions::timeoutSeconds until that many seconds have
// passed since the first command of the phase; the session then ends on a
// failure ("Error: No answer from the receiver within %u s\n", "Error:
// Request command was not acknowledged within %u s\n", "Error: Count command
// was not acknowledged within %u s\n"). A board that keeps talking without
// acknowledging is held to the same limit. The time-out of "C" counts from
// the first "C", not from the end of the upload. "W" is sent once; its wait
// ends after 3 s of silence ("Error: Flash Write command was not
// acknowledged\n"), and with timeoutSeconds also once that many seconds have
// passed since "W" ("Error: Flash Write command was not acknowledged within
// %u s\n", outcome Timeout). Protocol failures (no record lines, a count
// mismatch, "W" not acknowledged) are reported on standard output and end the session. A data file
// that cannot be read to its end also ends the session after the final progress line, without "C":
// an image cut short must not be counted, confirmed and started; the caller reports it
// (UploadFile::ReadFailed). An error that ends the session mid-upload ends the open progress line
// first, so that its message starts a line of its own.
// Messages for the operator, and in debug mode the echoes of commands and
// reply lines, are flushed as they are printed, so that they show at once also
// through a pipe (tee, a log file); the records and their echoes are not.
// Port errors pass through as std::runtime_error. What happens is told to
// ProtocolOptions::observer (SessionObserver.h) when there is one.
//
// An interrupt (InterruptedError) ends the session where it is, after the
// port has dropped its queue (COMPort::DropOutput): a record line counts as
// sent when the port took all of it, even when the interrupt was noticed
// right after, and the record lines among the bytes dropped are taken back
// (OnRecordsWithdrawn), so that the count is of the record lines whose bytes
// left the computer.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>

#include "protocol/Deadline.h"
#include "protocol/ProtocolOptions.h"
#include "protocol/SessionObserver.h"
#include "serial/COMPort.h"
#include "text/LineBuf.h"
#include "text/UploadFile.h"

// Who hears of a reply's "-" lines, and until when a reply may take.
struct ReplyWatch {
    SessionObserver* observer = nullptr;
    const Deadline* deadline = nullptr;  // nullptr: no limit of its own
    bool* heard = nullptr;               // set once any byte has arrived
};

class Downloader {
  public:
    static constexpr uint8_t StatePrompt = 0;
    static constexpr uint8_t StateIdentify = 1;
    static constexpr uint8_t StateRequest = 2;
    static constexpr uint8_t StateUpload = 3;
    static constexpr uint8_t StateCount = 4;
    static constexpr uint8_t StateFlash = 5;
    static constexpr uint8_t StateStart = 6;
    static constexpr uint8_t StateDone = 7;

    // Read time-outs of the session's phases.
    static constexpr uint32_t kPollTimeoutMs = 50;
    static constexpr uint32_t kDrainTimeoutMs = 500;
    static constexpr uint32_t kReplyTimeoutMs = 3000;
    // Silence that shows the board has nothing more to say before a command.
    static constexpr uint32_t kQuietMs = 50;

    // One read of the data file yields at most kLineBufferBytes - 1 characters.
    static constexpr size_t kLineBufferBytes = 10000;
    // Record lines between two progress lines.
    static constexpr int32_t kProgressInterval = 100;

    // The session starts in StatePrompt. file must be open; it stays owned by
    // the caller, as does port. The file's size is measured here.
    Downloader(UploadFile& file, COMPort& port, const ProtocolOptions& options);

    // One step of the session: 0 while it goes on, 1 once it has finished
    // (successfully or on a protocol failure, reported on standard output).
    int Step();
    // Once the session has finished: true when it stopped on a protocol
    // failure (no record lines, a count mismatch, "W" not acknowledged), so
    // that the run can end with a failure status.
    bool Failed() const { return failed; }
    // The boot loader has answered "?" in this session.
    bool Identified() const { return state > StateIdentify; }
    // Ends a progress line left open by the upload (a port error does so
    // itself; an interrupt leaves the line as it was).
    void EndProgressLine();

    // Writes text (CR LF included) to port in one write; with debug, echoes
    // "Sent: %s\n" after the write.
    static void SendCommand(const char* text, COMPort& port, bool debug);
    // Reads port byte by byte into buffer until a "+" line completes (true;
    // the line stays readable through LineBuf::LastLine) or a read brings no
    // byte within the port's read time-out, or the watch's deadline has
    // passed (false; a partial line stays in buffer for the next call). Shows
    // "-" lines without their "-" (and tells the watch's observer), and with
    // debug every completed line as "Received: %s\n".
    static bool ReadReply(LineBuf& buffer, COMPort& port, bool debug,
                          const ReplyWatch& watch = ReplyWatch());

    // Takes what the board sends, as ReadReply does, until the line has been
    // quiet for kQuietMs (or the watch's deadline has passed); "+" lines among
    // it are dropped. Leaves the port's read time-out at readTimeoutMs.
    static void SettleLine(LineBuf& buffer, COMPort& port, bool debug, uint32_t readTimeoutMs,
                           const ReplyWatch& watch = ReplyWatch());
    // Waits for the command just sent to leave the port (bounded, see
    // COMPort::DrainOutput), then ReadReply.
    static bool AwaitReply(LineBuf& buffer, COMPort& port, bool debug,
                           const ReplyWatch& watch = ReplyWatch());
    // One attempt to identify the boot loader on a line set up for polling:
    // "?" and ReadReply (bounded by limit too). On a "+" line shows
    // "Established communication: %s\n" with its text (and tells the
    // observer), sets the line to kDrainTimeoutMs and takes the rest of the
    // greeting until a read brings nothing, then returns true; false when the
    // board stayed silent (the caller asks again).
    static bool Identify(LineBuf& buffer, COMPort& port, const ProtocolOptions& options,
                         const Deadline& limit = Deadline());
    // Between two boards of a run: polls with "?" (showing "-" lines as
    // always) until the line has been quiet for kGoneQuietMs, so that the
    // board that was just programmed has been switched off or taken out.
    // Returns with the line set up for polling.
    static void AwaitBoardGone(LineBuf& buffer, COMPort& port, const ProtocolOptions& options);
    static constexpr uint32_t kGoneQuietMs = 1000;

    // Starts limit at the first call of a phase when options has a time-out.
    static void StartTimeout(Deadline& limit, const ProtocolOptions& options);
    // Prints the time-out message made of format and the options' seconds,
    // and tells the observer.
    static void ReportTimeout(const char* format, const ProtocolOptions& options);

  private:
    // Writes length bytes of text in one write; with debug, echoes
    // "Sent: %s\n" after it (not flushed).
    static void SendText(const char* text, size_t length, COMPort& port, bool debug);
    // SettleLine, the command, AwaitReply; the wait for the reply ends at
    // the phase's time-out at the latest.
    bool Exchange(const char* command);
    // Prints the failure message text, tells the observer and ends the
    // session as failed: returns 1.
    int Fail(SessionOutcome outcome, const std::string& text);
    // The phase's time-out has passed: Fail with format's message.
    int TimedOut(const char* format);
    void EnterPhase(SessionPhase phase);

    int StepState();
    int StepPrompt();
    int StepIdentify();
    int StepRequest();
    int StepUpload();
    int StepCount();
    int StepFlash();
    bool AwaitFlash();
    int StepStart();

    int FinishUpload();
    // The record line of length bytes in line has been handed to the port
    // whole: counted and told.
    void LineSent(size_t length);
    // After an interrupt: counts the record line the port took whole before
    // the interrupt was noticed, drops the port's queue and takes back the
    // record lines among what was dropped.
    void CountWhatLeft();
    // "\r%d lines uploaded (%d%%)" with the share of the file's bytes
    // consumed so far (64-bit; never past 100, also for a file that grew
    // after it was measured; an empty file gives 100), and a line feed for
    // the last; shown unless options.showProgress is off, told either way.
    void ShowProgress(bool last);
    void Configure(uint32_t readTimeoutMs);
    // The text after the leading "+" of the acknowledgement just taken.
    const char* ReplyText();

    uint8_t state = StatePrompt;
    UploadFile& file;
    LineBuf lineBuf;
    COMPort& port;
    int64_t fileSize = 0;
    int32_t linesUploaded = 0;
    // Where each record line sent ends in all the port has taken
    // (COMPort::BytesWritten), for the lines that end within
    // kMostBytesWithdrawn of the last one's end: those a drop may take back.
    std::deque<uint64_t> lineEnds;
    // Where the record line being written ends once the port has taken all
    // of it, and its length; 0 while none is being written.
    uint64_t pendingLineEnd = 0;
    size_t pendingLength = 0;
    bool progressLineOpen = false;
    std::pair<int32_t, int> progressShown;  // the lines and percent last shown
    ProtocolOptions options;
    bool failed = false;  // the session stopped on a protocol failure
    Deadline phaseLimit;  // the time-out of the phase waiting for "?", "R", "C", "W"
    SessionObserver noObserver;
    SessionObserver& observer;
    // Room for a read of kLineBufferBytes - 1 characters, its terminator and
    // what preparation may add (see PrepareRecordLine).
    std::array<char, kLineBufferBytes + 1> line{};
};
