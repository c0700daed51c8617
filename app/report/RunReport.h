#pragma once
// RunReport: the record of one run for --report, appended to its file as one
// line of JSON (JSON Lines) with one write, so that runs writing the same
// file at once never mix their lines, and forced to stable storage before
// Write returns (text/AppendFile.h: AppendRecord, which also gives a line
// torn by a power loss its line end first).
//
// The program flow makes it once the command line is parsed (the file is
// opened then, before the port), gives it what it knows of the run (the
// device, the adapter, the board's number in a run of many), passes it to
// the download session as its SessionObserver, and writes it at the run's
// one end with how the run ended. Keys, in this order:
//   version       the program's version
//   started/ended UTC, ISO 8601 with milliseconds and "Z"
//   mode          "download", "console", "raw"
//   port          as given to -P;  device  what was opened
//   usb           {"id": "VID:PID", "serial": "..." or null} of the adapter,
//                 or null when the system does not tell
//   baud          as given to -B
//   file          as given to -F (null in console mode); file_bytes,
//                 file_sha256 (lower-case hex) of the data as it was read
//                 for the board (after a leading byte-order mark; in raw
//                 mode the whole file), null when it cannot be read
//   board         the text of the boot loader's first acknowledgement, or null
//   board_messages  the "-" lines shown, without "-", at most 100;
//                 board_messages_omitted counts the rest
//   records_sent, records_confirmed (the board's count, or null)
//   flash         "not-requested", "acknowledged", "not-acknowledged" (also
//                 when the session ended before "W")
//   start_sent    true once "S" has gone out
//   timeout       the --timeout seconds, or null
//   outcome       the run's outcome by its name (app/Outcome.h): "complete",
//                 "no-records", "count-mismatch", "flash-not-acknowledged",
//                 "timeout", "port-error", "file-error", "image-ok",
//                 "image-refused", "image-changed", "power-command-failed",
//                 "interrupted", or in console and raw modes "ended"
//   error         the message printed for the outcome, without its last line
//                 end, or null
//   findings      the findings of a refused image as shown (at most 20), else
//                 an empty list
//   exit_status   the program's exit status, null when a signal ended it; in
//                 a run of several boards, the board's own (0 complete, 1
//                 otherwise)
//   signal        the request that ended the run ("SIGINT", ...), or null
//   seconds       the whole run
//   phases        {"waiting", "upload", "count", "flash"}: seconds spent
//                 waiting for the board, on "R" and the records, on "C", on
//                 "W"
//   board_number  the board's number in a run of several (--repeat), or null
//   run_id        --run-id, or one generated for the run: the same in every
//                 record of the run, another in the next run
//   record_id     a random UUID (version 4, lower case), another for every
//                 record ever written: the record's key in the factory's
//                 database (app/factory/)
//   station       --station, or null
//   stamp         with --stamp only: {"value", "address", "format", "ledger"}
//                 of the number the board got (value a JSON integer, or a
//                 string of bytes for bytes:N; address a number; ledger
//                 with a password as ***), or null when it got none
//   console_followed  with --monitor only: true once a console followed the
//                 complete download on the same port
//   before_polling  only with a fixture's switch (app/fixture/Fixture.h): what was
//                 done before polling: {"start_signal": {"line": "dsr=1",
//                 "seconds": the wait} or null, "power_command": {"command",
//                 "ended": "exited", "signal", "timeout", "interrupted" or
//                 "not-started", "status": the exit status or signal, or
//                 null} or null, "reset": the sequence run, or null}

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/Outcome.h"
#include "app/Settings.h"
#include "protocol/SessionObserver.h"
#include "text/AppendFile.h"

// The number stamped into a board's image (app/stamp/Stamping.h).
struct StampNote {
    bool isText = false;  // bytes:N: the value is text
    uint64_t number = 0;
    std::string text;
    uint32_t address = 0;
    std::string format;
    std::string ledger;
};

class RunReport : public SessionObserver {
  public:
    // Opens path for appending and takes what the settings say of the run;
    // FatalError "Can't open report file %s\n" when it cannot be opened. The
    // data file's size and digest are taken here, before any port is opened.
    RunReport(const char* path, const Settings& settings);

    // What other parts of the run know.
    void SetDevice(const std::string& device);
    void SetUsb(const std::string& id, const std::optional<std::string>& serial);
    void SetBoardNumber(uint32_t number);
    // The data the board gets: its length and digest (empty: unknown).
    void SetImage(int64_t bytes, const std::string& sha256);
    // The run's name in its records (else --run-id, or a generated one).
    void SetRunId(const std::string& id);
    const std::string& RunId() const { return runId; }
    // The refusal of the image: its summary line becomes the error, and the
    // findings shown (each without its line end) are kept.
    void SetRefusal(const std::string& refusal, std::vector<std::string> shownFindings);
    // An outcome decided outside the session (the image check's), kept
    // whatever the run's end.
    void SetOutcome(RunOutcome outcome);
    // The number the board now being programmed got (forgotten with the
    // session's part at StartBoard).
    void SetStamp(const StampNote& note);
    // What a fixture did before polling, for the current board's record.
    void SetStartWait(const std::string& line, double seconds);
    void SetPowerCommand(const std::string& command, const std::string& ended,
                         std::optional<int> status);
    void SetResetSequence(const std::string& sequence);
    // Starts the record of a further board of the same run: what the session
    // told is forgotten, the clock starts again.
    void StartBoard(uint32_t number);
    // A record has been started and not yet written (every record until it
    // is written; a further board's from StartBoard on).
    bool Pending() const { return pending; }
    // A console followed the download on the same port (--monitor).
    void SetConsoleFollowed() { consoleFollowed = true; }
    // Drops the record begun, unwritten (a board that never came).
    void Discard() { pending = false; }

    void OnPhase(SessionPhase phase) override;
    void OnBoardIdentified(const char* text) override;
    void OnBoardMessage(const char* text) override;
    void OnRecordsSent(int32_t count) override;
    void OnCountConfirmed(int32_t count) override;
    void OnFlash(bool acknowledged) override;
    void OnStartSent() override;
    void OnOutcome(SessionOutcome outcome, const char* message) override;

    // The outcome the record will give for an end of this kind.
    RunOutcome OutcomeFor(RunEndKind kind) const;

    // The record as one line of JSON with its line end. exitStatus is the
    // program's (nothing when a signal ends it); message is what went to
    // standard error (empty when nothing); interruptName is the request that
    // ended the run or the board's session, or nullptr.
    std::string Line(RunEndKind kind, std::optional<int> exitStatus, const std::string& message,
                     const char* interruptName) const;
    // Appends Line and forces it to disk; false when the file did not take
    // it. The record is no longer pending either way.
    bool Write(RunEndKind kind, std::optional<int> exitStatus, const std::string& message,
               const char* interruptName);

    static constexpr size_t kMaxBoardMessages = 100;

  private:
    using Clock = std::chrono::steady_clock;

    // The session's part of the record, started again for every board.
    struct Session {
        std::optional<std::string> board;
        std::vector<std::string> boardMessages;
        size_t omittedMessages = 0;
        int32_t recordsSent = 0;
        std::optional<int32_t> recordsConfirmed;
        bool flashAcknowledged = false;
        bool startSent = false;
        std::optional<RunOutcome> outcome;
        std::string message;  // printed with the outcome
        double phaseSeconds[4] = {0, 0, 0, 0};
        int currentPhase = -1;  // index into phaseSeconds, -1 none
        Clock::time_point phaseStart;
        std::optional<std::pair<std::string, double>> startWait;
        std::optional<std::string> powerCommand;
        std::string powerCommandEnded;
        std::optional<int> powerCommandStatus;
        std::optional<std::string> resetSequence;
        std::optional<StampNote> stamp;
    };

    void EndCurrentPhase(Clock::time_point now);

    AppendFile file;
    std::string path;
    const Settings& settings;
    std::string device;
    std::optional<std::string> usbId;
    std::optional<std::string> usbSerial;
    std::optional<uint32_t> boardNumber;
    bool consoleFollowed = false;
    std::optional<RunOutcome> presetOutcome;
    std::optional<int64_t> fileBytes;
    std::optional<std::string> fileDigest;
    std::string runId;
    std::string refusal;
    std::vector<std::string> findings;
    std::chrono::system_clock::time_point startedAt;
    Clock::time_point startedClock;
    Session session;
    bool pending = true;
};
