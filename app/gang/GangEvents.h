#pragma once
// GangEvents: what a gang reads of its runs' events. Each run of a gang
// tells its story on a channel of its own (process/ParentChannel.h) in the
// public event stream (app/events/EventStream.h), every event with "shown",
// the bytes the run had shown on standard output before it, so that the
// gang puts it in its place among the run's lines. The gang takes phases,
// progress, the board's identity, its number, each board's end and the
// run's outcome from these alone; the run's text is only shown. Every event,
// whether the gang makes use of it or not, is kept whole (without "shown")
// to be passed on to the gang's own stream.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/Outcome.h"
#include "protocol/SessionObserver.h"

struct GangEvent {
    enum class Kind { Phase, Board, Progress, Count, Flash, Start, Stamp, BoardEnd, End, Other };
    Kind kind = Kind::Phase;
    uint64_t shown = 0;
    SessionPhase phase = SessionPhase::Identify;  // Phase
    std::string identity;                         // Board
    std::string value;                            // Stamp: as shown
    int32_t lines = 0;                            // Progress
    int percent = 0;                              // Progress
    bool last = false;                            // Progress
    int32_t count = 0;                            // Count
    bool acknowledged = false;                    // Flash
    RunOutcome outcome = RunOutcome::Failed;      // BoardEnd, End
    std::string message;                          // BoardEnd: the record's error, if any
    // The event as the run told it, without "shown".
    nlohmann::ordered_json told;
};

// The event a line (without its line end) holds; nothing for a line that is
// no event of the stream, or lacks what its kind needs.
std::optional<GangEvent> ParseGangEvent(const std::string& line);

// The line a run writes to its gang for event (as the event stream writes
// it, at "t" 0), with its line end: for whoever plays a gang's run.
std::string GangEventLine(const GangEvent& event);
