#pragma once
// BoardLabels: the label of each board (a serial number printed on it, a
// barcode), which its record, its events, the tally and a gang's summary
// carry beside the board's own number.
//
// --label gives a single board's label. With --ask-label each label is
// asked for before its board: the question ("Label of the board: ", "Label
// of board 3: ", in a gang "Label of the board on PORT: ") on standard
// output (standard error with --events -), and the answer read as one line
// from standard input: a terminal (a keyboard-wedge scanner types the label
// and presses Enter; the terminal echoes it) or a pipe. With --label-from
// the lines come from a scanner on a serial port of its own instead, opened
// once, before the first label is asked for, at --label-baud (8 data bits,
// no parity, one stop bit); what the terminal did not echo (a pipe's or the
// scanner's line) is shown after the question.
//
// A CR or LF ends a line (CR LF is one line end); blanks around the label
// are dropped; an empty line asks again. A label that --label-pattern
// (ECMAScript) does not match whole is refused on standard error ("Label
// "X" does not match --label-pattern P") and asked again. The end of
// standard input gives no label (a last line without its line end is still
// one); so does the operator's request to end the run (serial/Interrupt.h),
// which is then left noted. A scanner's port that fails raises its
// PortError.

#include <cstdint>
#include <memory>
#include <optional>
#include <regex>
#include <string>

#include "app/Settings.h"
#include "serial/COMPort.h"

struct LabelAnswer {
    std::optional<std::string> label;
    // The request that ended the asking (serial/Interrupt.h); 0: none. No
    // label and no request: the input ended.
    int interrupt = 0;
};

class BoardLabels {
  public:
    explicit BoardLabels(const Settings& settings);
    ~BoardLabels();
    BoardLabels(const BoardLabels&) = delete;
    BoardLabels& operator=(const BoardLabels&) = delete;

    // The label of the board: the single one (number nothing) or board
    // number of a run of several. --label's, or asked for; a board's label
    // is asked for once, and given again when asked for again.
    LabelAnswer ForBoard(std::optional<uint32_t> number);
    // The label of the board on a gang's port.
    LabelAnswer ForPort(const std::string& port);

  private:
    enum class LineEnd { Line, Ended, Interrupted };

    LabelAnswer Ask(const std::string& question);
    LineEnd ReadLine(std::string& line);
    // Takes a whole line from what was read; false when none is there yet.
    bool TakeLine(std::string& line);
    // Reads more of the source; false at its end.
    bool ReadMore();
    // With --label-from: the scanner's port opened and set up, once.
    void OpenScanner();
    void Say(const std::string& text) const;

    const Settings& settings;
    std::optional<std::regex> pattern;
    std::unique_ptr<COMPort> scanner;
    bool echoed = false;   // the source's lines are echoed by the terminal
    std::string pending;   // read, not yet taken as lines
    bool afterCr = false;  // the last line ended with CR: an LF next is its end too
    bool ended = false;
    std::optional<std::optional<uint32_t>> askedFor;  // the board last asked for
    LabelAnswer asked;
};
