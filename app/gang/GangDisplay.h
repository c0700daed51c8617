#pragma once
// GangDisplay: the output of a gang. Every line of a port's run is shown
// with the port's name in front ("[ttyUSB1] File uploaded OK"), on standard
// output or standard error as the run wrote it.
//
// On a terminal, the progress of all ports is one status block under those
// lines, one line per port (its name and phase, see GangMember::Phase),
// redrawn in place with ANSI cursor movements: at most every
// kRedrawSeconds for progress, and at once after lines were shown above it.
// Otherwise (a pipe, a file, a screen too short for the block: the caller
// says which) each port's progress is shown as whole lines
// ("[ttyUSB1] 1200 lines uploaded (45%)"), at most one per port every
// kPipeProgressSeconds, and always its last one.

#include <functional>
#include <string>
#include <vector>

#include "app/gang/GangMember.h"

class GangDisplay {
  public:
    // Writes text to standard error (toError) or standard output.
    using Writer = std::function<void(bool toError, const std::string& text)>;

    static constexpr double kRedrawSeconds = 0.1;
    static constexpr double kPipeProgressSeconds = 1.0;

    // names: the name shown for each member. members must outlive the
    // display. columns: the terminal's width (status lines are cut to it).
    GangDisplay(const std::vector<GangMember>& members, std::vector<std::string> names,
                bool terminal, int columns, Writer writer);

    // Shows an item of member's run; now: seconds on a steady clock.
    void Show(size_t member, const GangItem& item, double now);
    // Terminal: redraws the status block when it is due.
    void Refresh(double now);
    // Terminal: takes the status block away (before the summary).
    void Close();

  private:
    void EraseBlock();
    void DrawBlock(double now);

    const std::vector<GangMember>& members;
    std::vector<std::string> names;
    bool terminal;
    int columns;
    Writer write;
    std::vector<double> progressShownAt;  // pipe: when each port's last progress line went out
    size_t blockLines = 0;                // terminal: lines of the block on the screen
    bool changed = true;
    double drawnAt = -1e9;
};

// The summary table: a heading, then for each member its port (as given),
// its board's label (with labels; "-" for none), board identity ("-" when
// unknown), outcome, records uploaded and seconds,
// in columns (board after board: its boards complete and failed; --stamp:
// the number), then the tally line (board after board: and the boards in
// all), and a line for each run that was ended outright. Every member has
// ended.
std::string FormatGangSummary(const std::vector<GangMember>& members);
