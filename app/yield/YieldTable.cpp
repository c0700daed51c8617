#include "app/yield/YieldTable.h"

#include <algorithm>
#include <utility>

#include "app/yield/YieldMessages.h"
#include "text/Shown.h"

namespace {

constexpr const char* kEllipsis = "\xE2\x80\xA6";  // "…"

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Control characters would break the table's lines.
std::string Printable(const std::string& text) {
    std::string shown = text;
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return shown;
}

std::string Padded(const std::string& text, size_t width, bool left) {
    const size_t shown = DisplayWidth(text);
    const std::string room(width > shown ? width - shown : 0, ' ');
    return left ? text + room : room + text;
}

// The separator before a column: two spaces after a text column, one
// between numbers.
size_t GapBefore(const std::vector<TextTable::Column>& columns, size_t column) {
    return column == 0 ? 0 : columns[column - 1].text ? 2 : 1;
}

}  // namespace

size_t DisplayWidth(const std::string& text) {
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !IsContinuationByte(c); }));
}

std::string CutToWidth(const std::string& text, size_t width) {
    if (DisplayWidth(text) <= width || width == 0) {
        return DisplayWidth(text) <= width ? text : std::string();
    }
    std::string cut;
    size_t shown = 0;
    for (size_t at = 0; at < text.size(); ++at) {
        if (!IsContinuationByte(text[at]) && ++shown == width) {
            break;
        }
        cut += text[at];
    }
    return cut + kEllipsis;
}

TextTable::TextTable(std::vector<Column> tableColumns) : columns(std::move(tableColumns)) {}

void TextTable::Add(std::vector<std::string> cells, std::string tail) {
    for (std::string& cell : cells) {
        cell = Printable(cell);
    }
    rows.push_back(std::move(cells));
    tails.push_back(Printable(tail));
}

std::vector<size_t> TextTable::Widths() const {
    std::vector<size_t> widths;
    size_t total = 0;
    for (size_t column = 0; column < columns.size(); ++column) {
        size_t width = DisplayWidth(columns[column].header);
        for (const auto& row : rows) {
            width = std::max(width, DisplayWidth(row[column]));
        }
        widths.push_back(width);
        total += width + GapBefore(columns, column);
    }
    size_t longestTail = 0;
    for (const std::string& tail : tails) {
        longestTail = std::max(longestTail, tail.empty() ? 0 : DisplayWidth(tail) + 2);
    }
    // The widest text column gives up a column at a time.
    while (total + longestTail > kTableWidth) {
        size_t widest = columns.size();
        for (size_t column = 0; column < columns.size(); ++column) {
            if (columns[column].text && widths[column] > kNarrowestText &&
                (widest == columns.size() || widths[column] > widths[widest])) {
                widest = column;
            }
        }
        if (widest == columns.size()) {
            break;
        }
        --widths[widest];
        --total;
    }
    return widths;
}

std::string TextTable::Text() const {
    const std::vector<size_t> widths = Widths();
    auto line = [&](const std::vector<std::string>& cells, const std::string& tail) {
        std::string text;
        for (size_t column = 0; column < columns.size(); ++column) {
            text += std::string(GapBefore(columns, column), ' ');
            const bool left = columns[column].text;
            const bool last = column + 1 == columns.size() && tail.empty();
            const std::string cell = CutToWidth(cells[column], widths[column]);
            text += left && last ? cell : Padded(cell, widths[column], left);
        }
        text += tail.empty() ? "" : "  " + tail;
        return text + "\n";
    };
    std::vector<std::string> headers;
    for (const Column& column : columns) {
        headers.push_back(column.header);
    }
    std::string text = line(headers, std::string());
    for (size_t row = 0; row < rows.size(); ++row) {
        text += line(rows[row], tails[row]);
    }
    return text;
}

namespace {

constexpr const char* kNone = "(none)";
constexpr const char* kEmptyFigure = "-";

std::string Count(uint64_t value) {
    return std::to_string(value);
}

std::string OrDash(std::string text) {
    return text.empty() ? kEmptyFigure : text;
}

std::string NameOrNone(const std::string& name) {
    return name.empty() ? kNone : name;
}

// The group table's columns after its names.
std::vector<TextTable::Column> FigureColumns(std::vector<TextTable::Column> names) {
    for (const char* header : {"runs", "units", "passed", "failed", "aborted", "no_board", "FPY %",
                               "LPY %", "p50 s", "p90 s"}) {
        names.push_back({header, false});
    }
    return names;
}

std::vector<std::string> FigureCells(std::vector<std::string> names, const GroupFigures& figures) {
    for (std::string cell : {Count(figures.runs), Count(figures.units), Count(figures.passed),
                             Count(figures.failed), Count(figures.aborted), Count(figures.noBoard),
                             OrDash(PercentText(figures.firstPassed, figures.units)),
                             OrDash(PercentText(figures.lastPassed, figures.units)),
                             OrDash(SecondsText(figures.p50)), OrDash(SecondsText(figures.p90))}) {
        names.push_back(std::move(cell));
    }
    return names;
}

void ShowTable(const char* title, const TextTable& table) {
    ShowFormatted("\n%s\n", title);
    Show(table.Text().c_str());
}

std::vector<const YieldRow*> RowsOf(const YieldSummary& summary, GroupKind kind) {
    std::vector<const YieldRow*> rows;
    for (const YieldRow& row : summary.rows) {
        if (row.kind == kind) {
            rows.push_back(&row);
        }
    }
    return rows;
}

void ShowGroupTable(const YieldSummary& summary, GroupKind kind) {
    static const char* const kTitles[] = {"Whole set", "Stations",   "Ports",
                                          "Images",    "Days (UTC)", "Outcomes"};
    std::vector<TextTable::Column> names;
    if (kind == GroupKind::Image) {
        names = {{"image", true}, {"file", true}};
    } else {
        names = {{kind == GroupKind::All ? "set" : GroupKindName(kind), true}};
    }
    TextTable table(FigureColumns(names));
    for (const YieldRow* row : RowsOf(summary, kind)) {
        const std::vector<std::string> cells =
            kind == GroupKind::Image
                ? std::vector<std::string>{row->key.substr(0, 12), FileName(row->file)}
            : kind == GroupKind::All     ? std::vector<std::string>{"all"}
            : kind == GroupKind::Station ? std::vector<std::string>{NameOrNone(row->station)}
                                         : std::vector<std::string>{row->key};
        table.Add(FigureCells(cells, row->figures));
    }
    ShowTable(kTitles[static_cast<int>(kind)], table);
}

// Narrow, so that a flag's reason fits beside whole names: the ports' other
// figures are in the CSV and on the page.
void ShowPortTable(const YieldSummary& summary) {
    TextTable table(
        {{"station", true}, {"port", true}, {"runs", false}, {"failed", false}, {"streak", false}});
    for (const YieldRow* row : RowsOf(summary, GroupKind::Port)) {
        const GroupFigures& figures = row->figures;
        table.Add({NameOrNone(row->station), NameOrNone(row->key), Count(figures.runs),
                   Count(figures.failed), Count(figures.longestStreak)},
                  row->flag.empty() ? std::string() : "flagged: " + row->flag);
    }
    ShowTable("Ports", table);
}

void ShowOutcomeTable(const YieldSummary& summary) {
    TextTable table({{"outcome", true}, {"runs", false}, {"share %", false}});
    for (const YieldRow* row : RowsOf(summary, GroupKind::Outcome)) {
        table.Add({row->key, Count(row->figures.runs),
                   row->shareTenths ? TenthsText(*row->shareTenths) : kEmptyFigure});
    }
    ShowTable("Outcomes", table);
}

}  // namespace

void ShowYieldTables(const YieldSummary& summary) {
    ShowGroupTable(summary, GroupKind::All);
    ShowGroupTable(summary, GroupKind::Station);
    ShowPortTable(summary);
    ShowGroupTable(summary, GroupKind::Image);
    ShowGroupTable(summary, GroupKind::Day);
    ShowOutcomeTable(summary);
    Show("\n");
    Show(messages::kLegend);
}
