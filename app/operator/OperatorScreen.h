#pragma once
// OperatorScreen: --operator-screen, a result nobody can miss. After each
// board, when standard output is a terminal that takes cursor movements,
// the whole screen shows the board's result (app/operator/ResultScreen.h):
// PASS, or FAIL with the outcome and its message on the line below, in large
// letters across its width, the board's number, label and stamp, and the
// tally of a run of several boards. Colour (green, red) unless NO_COLOR is
// set (to anything but nothing) or the terminal has none.
//
// The screen stays until the next board's session begins (OnBoardBegin
// clears it); meanwhile its last line is left for what the run asks or
// says between boards: the question for the next label, typed after it, and
// each line said between boards (Say), which takes the last line's place
// with the screen drawn again (so that whatever a typed answer scrolled is
// put back). Nothing of the terminal's settings is changed, and every colour
// ends on its own line, so the terminal is left as it was found however the
// run ends. Anywhere else (a pipe, a file, a terminal of type "dumb") the
// switch changes nothing: ForRun makes no screen; nor with --check-only,
// which has no board.

#include <memory>
#include <optional>
#include <string>

#include "app/RunObserver.h"
#include "app/Settings.h"
#include "app/operator/ResultScreen.h"

class OperatorScreen : public RunObserver {
  public:
    // The screen the settings ask for; nullptr when they ask for none, or
    // standard output cannot show it.
    static std::unique_ptr<OperatorScreen> ForRun(const Settings& settings);

    explicit OperatorScreen(bool colour);

    void OnBoardBegin(const BoardBegin& begin) override;
    void OnStamp(const StampNote& note) override;
    void OnBoardEnd(const BoardEnd& end) override;

    // Shows the result of the board that ended last; tally: the run's so
    // far, nullptr for a single board.
    void ShowResult(const BoardTally* tally);
    // While the screen is shown: line (without its line end) on its last
    // line, the screen drawn again. Otherwise line shown as it is.
    void Say(const std::string& line);

  private:
    void Draw(const std::string& lastLine);

    bool colour;
    bool showing = false;
    BoardBegin board;
    std::string stamp;
    ResultTile tile;
};

// The result tile of a board: its outcome and message, and its facts.
ResultTile BoardTile(RunOutcome outcome, const std::string& message,
                     const std::vector<std::string>& facts);
// The facts' line of a board: "Board 3   Label SN1   Stamp 17", the parts
// it has (empty when it has none).
std::string BoardFactsLine(std::optional<uint32_t> number, const std::string& label,
                           const std::string& stamp);
// Whether the operator's screen may use colour: NO_COLOR unset (or empty)
// and a terminal that has colour.
bool ScreenColour();
