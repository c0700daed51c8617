#include "app/operator/ResultScreen.h"

#include <algorithm>
#include <utility>

namespace {

constexpr const char* kClearScreen = "\x1b[H\x1b[2J";
constexpr const char* kPassColour = "\x1b[32;42m";
constexpr const char* kFailColour = "\x1b[31;41m";
constexpr const char* kPassWordColour = "\x1b[1;32m";
constexpr const char* kFailWordColour = "\x1b[1;31m";
constexpr const char* kColourEnd = "\x1b[0m";
// Columns between tiles side by side; rows between tiles stacked.
constexpr int kTileGap = 3;
// Rows left empty above the tiles, and below them for what comes next.
constexpr int kTopRows = 1;
constexpr int kBottomRows = 1;
constexpr int kWordLetters = 4;  // PASS, FAIL
// The word's width in dots: its letters and a dot of space between them.
constexpr int kWordDots = kWordLetters * kLetterColumns + kWordLetters - 1;

struct Glyph {
    char letter;
    const char* rows[kLetterRows];
};

const Glyph kGlyphs[] = {
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'I', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
};

const Glyph* GlyphOf(char letter) {
    for (const Glyph& glyph : kGlyphs) {
        if (glyph.letter == letter) {
            return &glyph;
        }
    }
    return nullptr;
}

// A line of a tile: plain text, the large letters, or the word alone.
struct TileLine {
    enum class Kind { Text, Letters, Word };
    Kind kind = Kind::Text;
    std::string text;
};

// How large the letters are drawn, and how the tiles are laid out.
struct Layout {
    int across = 1;  // tiles side by side
    int tileWidth = 0;
    int tileHeight = 0;
    int scaleX = 0;  // 0: no room for letters, the word alone
    int scaleY = 0;
};

int InfoLines(const ResultTile& tile) {
    return (tile.heading.empty() ? 0 : 1) + 1 + (tile.failure.empty() ? 0 : 1) +
           static_cast<int>(tile.facts.size());
}

// How large a layout's letters look: first the size of a dot as the eye
// sees it (its cells are twice as tall as wide), then its area.
std::pair<int, int> Size(const Layout& layout) {
    return {std::min(layout.scaleX, 2 * layout.scaleY), layout.scaleX * layout.scaleY};
}

// The layout that gives the largest letters; the last line of the screen
// and the last column stay free.
Layout ChooseLayout(const std::vector<ResultTile>& tiles, int columns, int rows) {
    const int count = static_cast<int>(tiles.size());
    int info = 0;
    for (const ResultTile& tile : tiles) {
        info = std::max(info, InfoLines(tile));
    }
    const int height = rows - kTopRows - kBottomRows;
    Layout best;
    best.tileWidth = columns - 1;
    best.tileHeight = height;
    for (int across = 1; across <= count; ++across) {
        const int down = (count + across - 1) / across;
        Layout layout;
        layout.across = across;
        layout.tileWidth = (columns - 1 - (across - 1) * kTileGap) / across;
        layout.tileHeight = (height - (down - 1)) / down;
        layout.scaleX = std::max(0, layout.tileWidth / kWordDots);
        layout.scaleY = std::min((layout.tileHeight - info) / kLetterRows, (layout.scaleX + 1) / 2);
        if (layout.scaleY >= 1 && Size(layout) > Size(best)) {
            best = layout;
        }
    }
    return best;
}

std::vector<TileLine> LinesOf(const ResultTile& tile, const Layout& layout) {
    std::vector<TileLine> lines;
    const std::string word = tile.pass ? "PASS" : "FAIL";
    if (!tile.heading.empty()) {
        lines.push_back({TileLine::Kind::Text, tile.heading});
    }
    if (layout.scaleY == 0) {
        lines.push_back({TileLine::Kind::Word, word});
    } else {
        const std::vector<std::string> letters = LargeLetters(word, layout.scaleX, layout.scaleY);
        const size_t indent = (static_cast<size_t>(layout.tileWidth) - letters[0].size()) / 2;
        for (const std::string& row : letters) {
            lines.push_back({TileLine::Kind::Letters, std::string(indent, ' ') + row});
        }
        lines.push_back({TileLine::Kind::Text, ""});
    }
    if (!tile.failure.empty()) {
        lines.push_back({TileLine::Kind::Text, tile.failure});
    }
    for (const std::string& fact : tile.facts) {
        lines.push_back({TileLine::Kind::Text, fact});
    }
    return lines;
}

// The line cut and padded to width, coloured as its kind asks.
std::string Drawn(const TileLine& line, size_t width, bool pass, bool colour) {
    std::string text = CutAtCharacterBoundary(line.text, width);
    text.resize(width, ' ');
    if (!colour || line.kind == TileLine::Kind::Text) {
        return text;
    }
    if (line.kind == TileLine::Kind::Word) {
        const size_t end = std::min(line.text.size(), text.size());
        return (pass ? kPassWordColour : kFailWordColour) + text.substr(0, end) + kColourEnd +
               text.substr(end);
    }
    std::string drawn;
    for (size_t at = 0; at < text.size();) {
        const size_t run = text.find_first_not_of(text[at], at);
        const size_t length = (run == std::string::npos ? text.size() : run) - at;
        const std::string piece = text.substr(at, length);
        drawn += text[at] == '#' ? (pass ? kPassColour : kFailColour) + piece + kColourEnd : piece;
        at += length;
    }
    return drawn;
}

std::string WithoutTrailingBlanks(std::string line) {
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

}  // namespace

std::string CutAtCharacterBoundary(const std::string& text, size_t width) {
    if (text.size() <= width) {
        return text;
    }
    size_t end = width;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

std::vector<std::string> LargeLetters(const std::string& word, int scaleX, int scaleY) {
    std::vector<std::string> rows;
    for (int dotRow = 0; dotRow < kLetterRows; ++dotRow) {
        std::string row;
        for (size_t i = 0; i < word.size(); ++i) {
            const Glyph* glyph = GlyphOf(word[i]);
            for (int dot = 0; dot < kLetterColumns; ++dot) {
                const bool set = glyph != nullptr && glyph->rows[dotRow][dot] == '#';
                row.append(static_cast<size_t>(scaleX), set ? '#' : ' ');
            }
            if (i + 1 < word.size()) {
                row.append(static_cast<size_t>(scaleX), ' ');
            }
        }
        rows.insert(rows.end(), static_cast<size_t>(scaleY), row);
    }
    return rows;
}

std::string ResultScreenText(const std::vector<ResultTile>& tiles, int columns, int rows,
                             bool colour) {
    const Layout layout = ChooseLayout(tiles, columns, rows);
    std::vector<std::string> screen(kTopRows);
    for (size_t first = 0; first < tiles.size(); first += static_cast<size_t>(layout.across)) {
        const size_t last = std::min(tiles.size(), first + static_cast<size_t>(layout.across));
        std::vector<std::vector<TileLine>> lines;
        size_t height = 0;
        for (size_t i = first; i < last; ++i) {
            lines.push_back(LinesOf(tiles[i], layout));
            height = std::max(height, lines.back().size());
        }
        if (first > 0) {
            screen.emplace_back();
        }
        for (size_t row = 0; row < height; ++row) {
            std::string line;
            for (size_t i = 0; i < lines.size(); ++i) {
                const TileLine blank;
                const TileLine& part = row < lines[i].size() ? lines[i][row] : blank;
                line += (i > 0 ? std::string(kTileGap, ' ') : std::string()) +
                        Drawn(part, static_cast<size_t>(layout.tileWidth), tiles[first + i].pass,
                              colour);
            }
            screen.push_back(WithoutTrailingBlanks(line));
        }
    }
    screen.resize(static_cast<size_t>(std::max(rows - kBottomRows, 0)));
    std::string text = kClearScreen;
    for (const std::string& line : screen) {
        text += line + "\n";
    }
    return text;
}
