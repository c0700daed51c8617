#pragma once
// The yield summary on standard output: aligned tables that fit 100
// columns, one for each kind of group, each under its title. Names too long
// for their column are cut with "…" (here only; the CSV and the page keep
// them whole). The ports' table is narrow (runs, failed, longest streak), so
// that a flagged port's row, which ends with "flagged:" and the reason, keeps
// its names whole.

#include <string>
#include <vector>

#include "app/yield/YieldSummary.h"

// A table of text cells, shown with its columns aligned (texts to the left,
// numbers to the right) in at most kTableWidth columns: the text columns
// give up width, widest first, down to kNarrowestText.
class TextTable {
  public:
    static constexpr size_t kTableWidth = 100;
    static constexpr size_t kNarrowestText = 6;

    struct Column {
        std::string header;
        bool text = false;  // left-aligned, and may be cut
    };

    explicit TextTable(std::vector<Column> columns);
    // A row; tail, when given, follows the last column.
    void Add(std::vector<std::string> cells, std::string tail = std::string());
    // The header line and the rows, each ending in a line end.
    std::string Text() const;

  private:
    std::vector<size_t> Widths() const;

    std::vector<Column> columns;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> tails;
};

// Columns of a text as a terminal shows it: one a character of UTF-8.
size_t DisplayWidth(const std::string& text);
// text cut to width columns, its end replaced by "…" when it was longer.
std::string CutToWidth(const std::string& text, size_t width);

// Shows the summary's tables and legend on standard output.
void ShowYieldTables(const YieldSummary& summary);
