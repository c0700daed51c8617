#pragma once
// EventStream: the run's story for programs, a stream of JSON events, one
// object a line (JSON Lines), each written whole with one write as it
// happens: to the file of --events FILE (appended), to standard output with
// --events - (which then holds nothing else), and, in a run of a gang, to
// the gang on the run's channel (process/ParentChannel.h).
//
// Version 1 (docs/events.md and its schema docs/events.schema.json): every
// event has "v": 1, "event": its name, and "t": the seconds since the run
// started (to the millisecond, never decreasing). Events, in the order they
// happen:
//   run-begin    run_id, station, mode, port, baud, file
//   board-begin  board_number, label
//   fixture      step ("start-signal": line, seconds; "power-command",
//                "power-off-command", "result-command": command, ended,
//                status; "reset", "reset-end": sequence)
//   phase        phase: "identify", "request", "upload", "count", "flash",
//                "start", "console"
//   board        identity
//   message      text
//   progress     lines, percent, last
//   count        count
//   flash        acknowledged
//   start
//   stamp        value, address, format, ledger, text (as shown)
//   board-end    board_number, outcome, exit_status, record (the board's
//                record, the very object --report writes)
//   end          outcome, exit_status, signal, seconds
// Keys are only ever added within a version. On the gang's channel every
// event also carries "shown": the bytes the run had shown on standard output
// before it (text/Shown.h), so that the gang puts it in its place among the
// run's lines; the gang keeps that off its own stream.

#include <chrono>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/RunObserver.h"

class ParentChannel;
class AppendFile;

class EventStream : public RunObserver {
  public:
    using Clock = std::chrono::steady_clock;
    using Json = nlohmann::ordered_json;

    // start: when the run started (t counts from it).
    explicit EventStream(Clock::time_point start);
    ~EventStream() override;
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    // Where the events go; any of them, several at once.
    // Appends to path (created when missing); FatalError "Can't open events
    // file %s\n" when it cannot be opened.
    void ToFile(const char* path);
    void ToStandardOutput();
    // The gang's channel, with "shown" in every event.
    void ToGang(ParentChannel& channel);

    // A write to the file failed (said once on standard error): the run
    // ends with status 1 however the board did.
    bool Failed() const { return failed; }

    // An event of another run (a gang's port's), passed on: "t" counted from
    // this stream's start (its own "t", told since the run started, plus
    // runStarted, the run's start in this stream's seconds; never less than
    // an earlier event's), "port" added after it when port is not empty;
    // every other key as told.
    void PassOn(const Json& told, const std::string& port, double runStarted);
    // An event of the stream's own (a gang's): "t" is now, or the "t" it was
    // told with (a time taken from Now(), so that another key can carry the
    // same moment); "port" added as PassOn adds it.
    void Tell(const Json& told, const std::string& port);
    // Seconds since start, to the millisecond, never less than an earlier
    // event's.
    double Now();

    void OnRunBegin(const RunBegin& begin) override;
    void OnBoardBegin(const BoardBegin& begin) override;
    void OnFixtureStep(const FixtureStep& step) override;
    void OnPhase(SessionPhase phase) override;
    void OnBoardIdentified(const char* text) override;
    void OnBoardMessage(const char* text) override;
    void OnProgress(int32_t lines, int percent, bool last) override;
    void OnCountConfirmed(int32_t count) override;
    void OnFlash(bool acknowledged) override;
    void OnStartSent() override;
    void OnStamp(const StampNote& note) override;
    void OnBoardEnd(const BoardEnd& end) override;
    void OnRunEnd(const RunEndFacts& end) override;

  private:
    // An event of name with "v" and "t" set, for its keys to be added.
    Json Begin(const char* name);
    // Writes event; tail, when not empty, is spliced in as its last keys
    // (",\"record\":{...}").
    void Emit(const Json& event, const std::string& tail = std::string());
    void WriteFile(const std::string& line);

    Clock::time_point start;
    double lastT = 0;
    std::unique_ptr<AppendFile> file;
    std::string filePath;
    bool toStandardOutput = false;
    ParentChannel* channel = nullptr;
    bool failed = false;
};

// Seconds as the events give them: to the millisecond.
double EventSeconds(double seconds);

// The name of a session phase in the events ("identify", ...), and the phase
// of such a name.
const char* PhaseName(SessionPhase phase);
std::optional<SessionPhase> PhaseNamed(const std::string& name);
