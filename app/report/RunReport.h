#pragma once
// RunReport: the record of a board, one JSON object: what --report appends
// to its file as one line (JSON Lines), and what the event stream's
// board-end carries.
//
// It listens to the run (app/RunObserver.h) from its start, and is made
// into a record (Make) at each board's end with how the board ended, as
// app/RunStory.h decided it. Keys, in this order:
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
//   sent_sha256   the SHA-256 of the record lines counted in records_sent,
//                 exactly as they went out (stamped, line ends included;
//                 app/report/SentDigest.h); null outside download mode and
//                 when no record line was sent
//   board         the text of the boot loader's first acknowledgement, or null
//   board_messages  the "-" lines shown, without "-", at most 100;
//                 board_messages_omitted counts the rest
//   records_sent  the record lines whose bytes left the computer (those an
//                 interrupt dropped from the port's queue are not);
//   records_confirmed  the board's count, or null
//   flash         "not-requested", "acknowledged", "not-acknowledged" (also
//                 when the session ended before "W")
//   start_sent    true once "S" has gone out
//   timeout       the --timeout seconds, or null
//   outcome       the run's outcome by its name (app/Outcome.h): "complete",
//                 "no-records", "count-mismatch", "flash-not-acknowledged",
//                 "timeout", "port-error", "file-error", "image-ok",
//                 "image-refused", "image-changed", "power-command-failed",
//                 "ledger-error", "interrupted", or in console and raw modes
//                 "ended"
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
//                 record ever made: the record's key in the factory's
//                 database (app/factory/)
//   station       --station, or null
//   label         the board's label (--label, --ask-label, --label-from),
//                 or null
//   stamp         with --stamp only: {"value", "address", "format", "ledger",
//                 "closed"} of the number the board got (value a JSON
//                 integer, or a string of bytes for bytes:N; address a
//                 number; ledger with a password as ***; closed: whether its
//                 closing was made in the ledger), or null when it got none
//   console_followed  with --monitor only: true once a console followed the
//                 complete download on the same port
//   before_polling  only with a fixture's switch (app/fixture/Fixture.h): what was
//                 done before polling: {"start_signal": {"line": "dsr=1",
//                 "seconds": the wait} or null, "power_command": {"command",
//                 "ended": "exited", "signal", "timeout", "interrupted" or
//                 "not-started", "status": the exit status or signal, or
//                 null} or null, "reset": the sequence run (or asked for on a port
//                 that refused it), or null}
//   power_off_command  only with --power-off-command: {"command", "ended",
//                 "status"} as before_polling's power_command, or null
//                 when it did not run
//   result_command  only with --result-command, the last key: {"command",
//                 "ended", "status"} as power_off_command, or null when it
//                 did not run

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/Outcome.h"
#include "app/RunObserver.h"
#include "app/Settings.h"

class SentDigest;

class RunReport : public RunObserver {
  public:
    // Takes what the settings say of the run. The data file's size and
    // digest are taken here, before any port is opened.
    explicit RunReport(const Settings& settings);
    ~RunReport() override;
    RunReport(const RunReport&) = delete;
    RunReport& operator=(const RunReport&) = delete;

    // The run's name in its records (else --run-id, or a generated one).
    void SetRunId(const std::string& id);
    const std::string& RunId() const { return runId; }
    // The id the next record made will carry (record_id): the result command
    // is told it before the record is made, and Make draws another.
    const std::string& RecordId() const { return recordId; }
    // A record has been started and not yet made (every record until it is
    // made; a further board's from OnBoardBegin on).
    bool Pending() const { return pending; }
    // Drops the record begun, unmade (a board that never came).
    void Discard() { pending = false; }

    void OnPort(const PortFacts& port) override;
    void OnImage(int64_t bytes, const std::string& sha256) override;
    void OnImageRefused(const ImageRefusal& refusal) override;
    // A further board of the same run (its number): what the session told
    // is forgotten, the clock starts again (not for a run of one board).
    // The board's label is kept either way.
    void OnBoardBegin(const BoardBegin& begin) override;
    void OnFixtureStep(const FixtureStep& step) override;
    void OnStamp(const StampNote& note) override;
    void OnStampClosed(bool closed) override { session.stampClosed = closed; }
    void OnConsoleFollowed() override { consoleFollowed = true; }

    void OnPhase(SessionPhase phase) override;
    void OnBoardIdentified(const char* text) override;
    void OnBoardMessage(const char* text) override;
    void OnRecordLine(const char* line, size_t length) override;
    void OnRecordsSent(int32_t count) override;
    void OnRecordsWithdrawn(int32_t count) override;
    void OnCountConfirmed(int32_t count) override;
    void OnFlash(bool acknowledged) override;
    void OnStartSent() override;
    void OnOutcome(SessionOutcome outcome, const char* message) override;

    // The record as one line of JSON, without a line end: the board's
    // outcome, its exit status (nothing when a signal ends it), what went to
    // standard error (empty when nothing), and the request that ended the
    // run or the board's session (nullptr: none). The record is no longer
    // pending.
    std::string Make(RunOutcome outcome, std::optional<int> exitStatus, const std::string& message,
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
        std::string message;  // printed with the session's outcome
        double phaseSeconds[4] = {0, 0, 0, 0};
        int currentPhase = -1;  // index into phaseSeconds, -1 none
        Clock::time_point phaseStart;
        std::optional<std::pair<std::string, double>> startWait;
        std::optional<std::string> powerCommand;
        std::string powerCommandEnded;
        std::optional<int> powerCommandStatus;
        std::optional<std::string> resetSequence;
        std::optional<FixtureStep> powerOff;
        std::optional<FixtureStep> resultCommand;
        std::optional<StampNote> stamp;
        bool stampClosed = false;  // its closing was made in the ledger
    };

    void EndCurrentPhase(Clock::time_point now);
    void StartBoard(uint32_t number);

    const Settings& settings;
    std::string device;
    std::optional<std::string> usbId;
    std::optional<std::string> usbSerial;
    std::optional<uint32_t> boardNumber;
    std::optional<std::string> label;
    bool consoleFollowed = false;
    std::optional<int64_t> fileBytes;
    std::optional<std::string> fileDigest;
    std::string runId;
    std::string recordId;
    std::string refusal;
    std::vector<std::string> findings;
    std::chrono::system_clock::time_point startedAt;
    Clock::time_point startedClock;
    Session session;
    std::unique_ptr<SentDigest> sent;  // the board's record lines as sent
    bool pending = true;
};
