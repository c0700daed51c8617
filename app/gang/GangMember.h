#pragma once
// GangMember: what a gang knows of the run for one of its ports. The run's
// events (app/gang/GangEvents.h) say what phase it is in, its progress, the
// board's identity and how it ended; its standard output and standard error
// are only shown, never read for a meaning.
//
// The output is cut into lines (LF, CR LF, and any run of CRs before LF end
// a line; the text overwritten by a CR that is not before LF is passed on as
// a line). Each event takes its place among the lines of standard output by
// the bytes the run had shown before it, so that what is shown keeps the
// run's order.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/Outcome.h"
#include "app/gang/GangEvents.h"

// Something to show of the run.
struct GangItem {
    enum class Kind { Line, ErrorLine, Progress };
    Kind kind = Kind::Line;
    std::string text;        // Line, ErrorLine: without line end
    int32_t lines = 0;       // Progress: record lines uploaded
    int percent = 0;         // Progress: share of the file
    bool lastOfRun = false;  // Progress: the final progress of the upload
};

class GangMember {
  public:
    // Hears every event of the run as it is read, before its place among
    // the lines is reached (a gang passes them on to its own stream).
    using EventSink = std::function<void(const GangEvent& event)>;

    // child: the run's index among the gang's processes, -1 when it could
    // not be started.
    GangMember(std::string port, int child, EventSink sink = EventSink());

    const std::string& Port() const { return port; }
    int Child() const { return child; }

    // Takes what the run wrote to standard output / standard error / its
    // channel of events; returns what to show of it, in order.
    std::vector<GangItem> TakeOutput(const std::string& bytes);
    std::vector<GangItem> TakeErrorOutput(const std::string& bytes);
    std::vector<GangItem> TakeEvents(const std::string& bytes);

    // The run has ended, seconds after the gang started: with exitStatus (-1
    // for a signal), interrupted when it ended by an interrupt.
    // interruptSent: the gang passed one on to it.
    // Returns what was left of its output and events. Decides Outcome: the
    // one the run told (a complete run that still failed, e.g. on its record,
    // is Failed), else Interrupted when it was interrupted, else Failed.
    std::vector<GangItem> End(int exitStatus, bool interrupted, bool interruptSent, double seconds);

    // The run was never started (the gang's image was refused): it ends
    // with outcome at once.
    void EndUnstarted(RunOutcome ending) { outcome = ending; }

    // The gang was interrupted: a run that ended without telling how
    // (Failed) was ended by that interrupt, whether or not it was passed on
    // before the run noticed it itself.
    void GangInterrupted();
    // The run had not ended graceSeconds after the interrupt and was ended
    // outright.
    void KilledAfter(double graceSeconds) { killedAfter = graceSeconds; }
    // 0 unless KilledAfter.
    double KilledAfterSeconds() const { return killedAfter; }

    // Nothing while the run runs.
    const std::optional<RunOutcome>& Outcome() const { return outcome; }
    // The run told its end (an "end" event).
    bool ToldEnd() const { return told.has_value(); }
    // The run has begun: it has told its first event, so it has taken over
    // the interrupts it is sent (before that, one would end it unrecorded).
    bool Begun() const { return begun; }
    // The run ended by a signal (its own re-raised interrupt, or one that
    // ended it outright), not with a status of its own.
    bool EndedBySignal() const { return endedBySignal; }
    // The board's identity; empty while unknown.
    const std::string& Board() const { return board; }
    // The number the run's board got (--stamp), as shown; empty when none.
    const std::string& Stamp() const { return stamp; }
    // The label the gang gave the run's board (--ask-label); empty when none.
    const std::string& Label() const { return label; }
    void SetLabel(std::string given) { label = std::move(given); }
    // What the run said of its last board's outcome (its record's error);
    // empty when nothing.
    const std::string& Message() const { return message; }
    int32_t LinesUploaded() const { return lines; }
    // Board after board (--repeat): the boards that were complete and those
    // that were not, so far; both 0 for a single download.
    unsigned BoardsComplete() const { return boardsComplete; }
    unsigned BoardsFailed() const { return boardsFailed; }
    int Percent() const { return percent; }
    // From the gang's start to the run's end; 0 while it runs.
    double Seconds() const { return seconds; }
    // What the run does now, in a few words ("waiting for the board",
    // "uploading", ...), with its figure after a colon while it uploads
    // ("uploading: 1200 lines (45%)"); once it has ended, its outcome's name.
    std::string Phase() const;
    // The figure of Phase alone ("1200 lines (45%)"); empty when it has none.
    std::string Figure() const;

    // Where the run is.
    enum class State {
        WaitingForBoard,
        Connected,
        Uploading,
        Counting,
        ProgrammingFlash,
        Uploaded,
        Started,
    };

  private:
    struct Stream {
        std::string text;  // the current line so far
        int carriageReturns = 0;
        bool error = false;
    };
    void Take(Stream& stream, char c, std::vector<GangItem>& items);
    // The text before a CR that did not end the line was overwritten.
    void Overwritten(Stream& stream, std::vector<GangItem>& items);
    void LineEnded(Stream& stream, std::vector<GangItem>& items);
    // Applies the events whose place in standard output has been reached.
    void ApplyDue(std::vector<GangItem>& items);
    void Apply(const GangEvent& event, std::vector<GangItem>& items);

    std::string port;
    int child = -1;
    EventSink sink;
    double seconds = 0;
    double killedAfter = 0;
    Stream out;
    Stream err{"", 0, true};
    uint64_t outTaken = 0;  // bytes of standard output taken so far
    std::string eventText;  // an event line not yet ended
    std::deque<GangEvent> pending;
    std::string board;
    std::string stamp;
    std::string label;
    std::string message;
    int32_t lines = 0;
    int percent = 0;
    unsigned boardsComplete = 0;
    unsigned boardsFailed = 0;
    bool progressShown = false;
    bool progressOpen = false;  // progress shown, its last not yet
    State state = State::WaitingForBoard;
    std::optional<RunOutcome> told;  // the run's own word on its outcome
    bool begun = false;
    bool endedBySignal = false;
    std::optional<RunOutcome> outcome;
};
