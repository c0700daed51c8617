#pragma once
// GangEvents: what a gang's run tells its gang, on a channel of its own
// (process/ParentChannel.h), apart from the lines it shows the operator: one
// JSON object a line (JSON Lines), in the order things happened. The gang
// takes phases, progress, the board's identity and the outcome from these
// alone; the run's text is only shown.
//
// Every event carries "shown": the bytes the run had shown on standard
// output before it (text/Shown.h), so that the gang puts it in its place
// among the run's lines. Events:
//   {"event": "phase", "phase": "identify"|"request"|"upload"|"count"|"flash"|"start"|"console"}
//   {"event": "board", "identity": TEXT}       the boot loader's identity
//   {"event": "progress", "lines": N, "percent": P, "last": BOOL}
//   {"event": "count", "count": N}             the board's count
//   {"event": "flash", "acknowledged": BOOL}
//   {"event": "start"}                         "S" has gone out
//   {"event": "stamp", "value": TEXT}         the board's number (--stamp)
//   {"event": "board-end", "outcome": NAME}    one board of --repeat has ended
//   {"event": "end", "outcome": NAME}          the run's outcome (app/Outcome.h)

#include <cstdint>
#include <optional>
#include <string>

#include "app/Outcome.h"
#include "protocol/SessionObserver.h"

class ParentChannel;

struct GangEvent {
    enum class Kind { Phase, Board, Progress, Count, Flash, Start, Stamp, BoardEnd, End };
    Kind kind = Kind::Phase;
    uint64_t shown = 0;
    SessionPhase phase = SessionPhase::Identify;  // Phase
    std::string identity;                         // Board
    std::string value;                            // Stamp
    int32_t lines = 0;                            // Progress
    int percent = 0;                              // Progress
    bool last = false;                            // Progress
    int32_t count = 0;                            // Count
    bool acknowledged = false;                    // Flash
    RunOutcome outcome = RunOutcome::Failed;      // BoardEnd, End
};

// The event as one line of JSON, with its line end.
std::string GangEventLine(const GangEvent& event);
// The event a line (without its line end) holds; nothing for a line that is
// no event.
std::optional<GangEvent> ParseGangEvent(const std::string& line);

// The run's side: tells the gang what its session does, and at the end the
// run's outcome. Standard output is flushed before each event, so that the
// gang has had what came before it.
class GangEventWriter : public SessionObserver {
  public:
    explicit GangEventWriter(ParentChannel& channel);

    void OnPhase(SessionPhase phase) override;
    void OnBoardIdentified(const char* text) override;
    void OnProgress(int32_t lines, int percent, bool last) override;
    void OnCountConfirmed(int32_t count) override;
    void OnFlash(bool acknowledged) override;
    void OnStartSent() override;
    // The number the board got (app/stamp/Stamping.h), as shown.
    void Stamp(const std::string& value);
    // One board of board after board (--repeat) has ended so.
    void BoardEnded(RunOutcome outcome);
    void End(RunOutcome outcome);

  private:
    void Send(GangEvent event);
    void SendOutcome(GangEvent::Kind kind, RunOutcome outcome);

    ParentChannel& channel;
};
