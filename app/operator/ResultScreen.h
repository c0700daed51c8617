#pragma once
// ResultScreen: the text that fills a terminal with boards' results, for the
// operator's screen (OperatorScreen.h) and a gang's (app/gang/Gang.h).
//
// Each board's result is a tile: a heading (a gang's port), PASS or FAIL in
// large letters across the tile's width, then for a FAIL the outcome and
// its message, then the board's facts (label, numbers, tally), a line each.
// The letters are made of '#', each dot of a kLetterColumns by kLetterRows
// letter drawn as a block of cells: as wide as the tile allows, and half as
// tall as wide (a terminal's cell is about twice as tall as it is wide) as
// far as the height allows. Tiles stand side by side or are stacked, as
// gives the largest letters. On a screen too small for letters of one cell a
// dot, each tile shows the word itself.
//
// The text clears the screen first, leaves its first line empty, and its
// last line too, with the cursor at its start, for what comes next (the
// question for the next label). No line reaches the last column, so that nothing wraps. With
// colour the letters are green (PASS) or red (FAIL), drawn in that colour
// on that colour; every colour ends on its own line.

#include <string>
#include <vector>

struct ResultTile {
    bool pass = false;
    std::string heading;  // empty: none
    std::string failure;  // FAIL: the outcome and its message; empty: none
    std::vector<std::string> facts;
};

inline constexpr int kLetterColumns = 5;
inline constexpr int kLetterRows = 7;

// The screen for tiles on a terminal of columns by rows.
std::string ResultScreenText(const std::vector<ResultTile>& tiles, int columns, int rows,
                             bool colour);

// The rows of word (the letters of PASS and FAIL) in large letters, each dot
// scaleX cells wide and scaleY cells tall, one dot of space between letters.
std::vector<std::string> LargeLetters(const std::string& word, int scaleX, int scaleY);

// text cut to at most width bytes, never within a UTF-8 character.
std::string CutAtCharacterBoundary(const std::string& text, size_t width);
