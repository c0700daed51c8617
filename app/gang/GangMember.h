#pragma once
// GangMember: what a gang knows of the run for one of its ports, read from
// that run's output as it comes (standard output and standard error apart).
//
// The output is cut into lines (LF, CR LF, and any run of CRs before LF end
// a line). A progress text ("\r%d lines uploaded (%d%%)") is taken as
// progress, also before its line has ended; the text overwritten by a CR
// that is not a progress text is passed on as a line. The run's echo of its
// command line (its first line) is dropped: the gang printed its own.
// The messages of the session show what phase the run is in, the board's
// identity, and how it ended: see GangOutcome.

#include <cstdint>
#include <string>
#include <vector>

enum class GangOutcome {
    Running,
    Complete,
    NoRecords,
    CountMismatch,
    FlashNotAcknowledged,
    Timeout,
    PortError,
    FileError,
    ImageRefused,
    Interrupted,
    Failed,  // ended in a way none of the others describes
};

// "complete", "no-records", ..., "failed" ("running" while it runs).
const char* GangOutcomeName(GangOutcome outcome);

// Something to show of the run.
struct GangItem {
    enum class Kind { Line, ErrorLine, Progress };
    Kind kind = Kind::Line;
    std::string text;        // Line, ErrorLine: without line end
    int32_t lines = 0;       // Progress: record lines uploaded
    int percent = 0;         // Progress: share of the file
    bool lastOfRun = false;  // Progress: the final progress line of the upload
};

class GangMember {
  public:
    // dataFile: the -F value, by which the findings of a refused image are
    // recognised.
    GangMember(std::string port, std::string dataFile);

    const std::string& Port() const { return port; }

    // Takes what the run wrote to standard output / standard error; returns
    // what to show of it, in order.
    std::vector<GangItem> TakeOutput(const std::string& bytes);
    std::vector<GangItem> TakeErrorOutput(const std::string& bytes);

    // The run has ended: with exitStatus (-1 for a signal), interrupted when
    // it ended by an interrupt. interruptSent: the gang passed one on to it.
    // Returns what was left of its output without line end. Decides Outcome.
    std::vector<GangItem> End(int exitStatus, bool interrupted, bool interruptSent);

    // The gang was interrupted: a run that ended without a sign of how
    // (Failed) was ended by that interrupt, whether or not it was passed on
    // before the run noticed it itself.
    void GangInterrupted();

    GangOutcome Outcome() const { return outcome; }
    // The text of the board's first acknowledgement; empty while unknown.
    const std::string& Board() const { return board; }
    int32_t LinesUploaded() const { return lines; }
    int Percent() const { return percent; }
    // What the run does now, in a few words ("waiting for the board",
    // "uploading", ...); once it has ended, its outcome's name.
    std::string Phase() const;

  private:
    struct Stream {
        std::string text;  // the current line so far
        int carriageReturns = 0;
        bool error = false;
    };
    std::vector<GangItem> Take(Stream& stream, const std::string& bytes);
    // The text before a CR that did not end the line was overwritten.
    void Overwritten(Stream& stream, std::vector<GangItem>& items);
    void LineEnded(Stream& stream, std::vector<GangItem>& items);
    // Takes a progress text at the start of text (lineEnded: text is a whole
    // line); returns its length (0 when there is none).
    size_t TakeProgress(const std::string& text, bool lineEnded, std::vector<GangItem>& items);
    void Recognise(const std::string& line, bool error);
    void Sign(GangOutcome sign);

    std::string port;
    std::string dataFile;
    Stream out;
    Stream err{"", 0, true};
    bool echoDropped = false;
    std::string board;
    int32_t lines = 0;
    int percent = 0;
    bool progressShown = false;
    std::string phase = "waiting for the board";
    bool uploadedOk = false;
    GangOutcome sign = GangOutcome::Running;  // the first failure shown
    GangOutcome outcome = GangOutcome::Running;
};
