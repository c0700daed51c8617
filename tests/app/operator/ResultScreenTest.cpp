// The text of the operator's screen at sizes no terminal test reaches:
// tiles side by side where that gives larger letters, the word alone on a
// screen too small for letters, colours that end on their own line, and
// nothing in the last column.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "app/operator/ResultScreen.h"

namespace {

ResultTile Tile(bool pass, const std::string& heading) {
    ResultTile tile;
    tile.pass = pass;
    tile.heading = heading;
    tile.failure = pass ? "" : "timeout: Error: No answer from the receiver within 30 s";
    tile.facts = {"Label SN-000001"};
    return tile;
}

// The screen's lines after the clearing sequence.
std::vector<std::string> ScreenLines(const std::string& text) {
    const std::string clear = "\x1b[H\x1b[2J";
    EXPECT_EQ(text.compare(0, clear.size(), clear), 0);
    std::vector<std::string> lines;
    std::istringstream in(text.substr(clear.size()));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

size_t RowsWithLetters(const std::vector<std::string>& lines) {
    size_t rows = 0;
    for (const std::string& line : lines) {
        rows += line.find('#') != std::string::npos ? 1 : 0;
    }
    return rows;
}

TEST(ResultScreen, FillsAllButTheLastLineAndNeverTheLastColumn) {
    for (const auto& [columns, rows] : {std::pair<int, int>{80, 24}, {47, 12}, {200, 60}}) {
        const std::vector<std::string> lines =
            ScreenLines(ResultScreenText({Tile(false, "")}, columns, rows, false));
        EXPECT_EQ(lines.size(), static_cast<size_t>(rows - 1)) << columns;
        for (const std::string& line : lines) {
            EXPECT_LT(line.size(), static_cast<size_t>(columns)) << line;
        }
        EXPECT_GE(RowsWithLetters(lines), 7u) << columns;
    }
}

// Four ports on a wide, low screen stand side by side; on a narrow, tall
// one they are stacked.
TEST(ResultScreen, TilesStandSideBySideOrStackedAsGivesTheLargerLetters) {
    const std::vector<ResultTile> tiles = {Tile(true, "pts/1"), Tile(false, "pts/2"),
                                           Tile(true, "pts/3"), Tile(true, "pts/4")};
    const std::vector<std::string> wide = ScreenLines(ResultScreenText(tiles, 240, 20, false));
    EXPECT_EQ(RowsWithLetters(wide), 7u) << "one row of letters for all four";
    EXPECT_NE(wide[1].find("pts/4"), std::string::npos) << wide[1];
    const std::vector<std::string> tall = ScreenLines(ResultScreenText(tiles, 60, 80, false));
    EXPECT_EQ(RowsWithLetters(tall) % 4, 0u);
    EXPECT_EQ(tall[1], "pts/1");
}

TEST(ResultScreen, AScreenTooSmallForLettersShowsTheWord) {
    const std::vector<std::string> lines =
        ScreenLines(ResultScreenText({Tile(true, ""), Tile(false, "")}, 20, 10, false));
    EXPECT_EQ(RowsWithLetters(lines), 0u);
    EXPECT_EQ(lines[1], "PASS");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "FAIL"), lines.end());
}

// Each coloured piece ends where it began, so whatever ends the run, the
// terminal is left without colour.
TEST(ResultScreen, EveryColourEndsOnItsLine) {
    size_t coloured = 0;
    for (const std::string& line :
         ScreenLines(ResultScreenText({Tile(true, ""), Tile(false, "x")}, 80, 40, true))) {
        size_t begun = 0;
        size_t ended = 0;
        for (size_t at = line.find("\x1b["); at != std::string::npos;
             at = line.find("\x1b[", at + 1)) {
            ++(line.compare(at, 4, "\x1b[0m") == 0 ? ended : begun);
        }
        EXPECT_EQ(begun, ended) << line;
        coloured += begun > 0 ? 1 : 0;
    }
    EXPECT_GE(coloured, 14u);
}

TEST(ResultScreen, ACutNeverSplitsACharacter) {
    const std::string label = "Label Z\xC3\xBCrich";  // "Zürich"
    EXPECT_EQ(CutAtCharacterBoundary(label, 8), "Label Z");
    EXPECT_EQ(CutAtCharacterBoundary(label, 9), "Label Z\xC3\xBC");
    EXPECT_EQ(CutAtCharacterBoundary(label, 40), label);
}

}  // namespace
