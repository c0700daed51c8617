#include "app/gang/GangDisplay.h"

#include <algorithm>
#include <utility>

#include "app/RunObserver.h"
#include "app/boards/BoardMessages.h"
#include "app/gang/GangMessages.h"
#include "errors/FormatText.h"
#include "protocol/ProtocolMessages.h"

namespace {

constexpr const char* kCursorUpFormat = "\x1b[%uA";
constexpr const char* kEraseToEnd = "\r\x1b[J";

std::string Marked(const std::string& name, const std::string& text) {
    return "[" + name + "] " + text + "\n";
}

// The run's own progress text, without the CR that starts it.
std::string ProgressText(const GangItem& item) {
    return FormatText(messages::kProgressFormat + 1, static_cast<int>(item.lines), item.percent);
}

std::string Padded(const std::string& text, size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

std::string RightAligned(const std::string& text, size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

}  // namespace

GangDisplay::GangDisplay(const std::vector<GangMember>& gangMembers,
                         std::vector<std::string> memberNames, bool onTerminal, int width,
                         Writer writer)
    : members(gangMembers),
      names(std::move(memberNames)),
      terminal(onTerminal),
      columns(std::max(width, 20)),
      write(std::move(writer)),
      progressShownAt(names.size(), -1e9) {}

void GangDisplay::Show(size_t member, const GangItem& item, double now) {
    if (item.kind == GangItem::Kind::Progress) {
        changed = true;
        if (!terminal &&
            (item.lastOfRun || now - progressShownAt[member] >= kPipeProgressSeconds)) {
            progressShownAt[member] = now;
            write(false, Marked(names[member], ProgressText(item)));
        }
        return;
    }
    EraseBlock();
    write(item.kind == GangItem::Kind::ErrorLine, Marked(names[member], item.text));
}

void GangDisplay::Refresh(double now) {
    if (!terminal || !changed) {
        return;
    }
    if (blockLines == 0 || now - drawnAt >= kRedrawSeconds) {
        EraseBlock();
        DrawBlock(now);
    }
}

void GangDisplay::Close() {
    EraseBlock();
}

void GangDisplay::EraseBlock() {
    if (blockLines == 0) {
        return;
    }
    write(false, FormatText(kCursorUpFormat, static_cast<unsigned>(blockLines)) + kEraseToEnd);
    blockLines = 0;
    changed = true;
}

namespace {

// A port's status line within width: the name is cut (its end kept, after
// "~") before the figure is: first in front of the whole phase, then in front
// of the figure alone; only a figure that does not fit even so is cut.
std::string StatusLine(const std::string& name, const GangMember& member, size_t width) {
    std::string line = "[" + name + "] " + member.Phase();
    const std::string figure = member.Figure();
    if (line.size() <= width || figure.empty()) {
        line.resize(std::min(line.size(), width));
        return line;
    }
    constexpr size_t kShortestName = 3;  // "~" and two characters of the name's end
    for (const std::string& text : {member.Phase(), figure}) {
        if (text.size() + 3 + kShortestName <= width) {
            const size_t room = width - text.size() - 3;
            const std::string cut =
                name.size() <= room ? name : "~" + name.substr(name.size() - (room - 1));
            return "[" + cut + "] " + text;
        }
    }
    return figure.substr(0, width);
}

}  // namespace

// Each line is cut to the terminal's width, so that none wraps and the
// cursor movements stay true.
void GangDisplay::DrawBlock(double now) {
    std::string block;
    for (size_t i = 0; i < members.size(); ++i) {
        block += StatusLine(names[i], members[i], static_cast<size_t>(columns - 1)) + "\n";
    }
    write(false, block);
    blockLines = members.size();
    changed = false;
    drawnAt = now;
}

namespace {

// The columns that only some gangs have.
struct SummaryColumns {
    bool labelled = false;  // each board's label
    bool repeated = false;  // board after board: each port's boards complete and failed
    bool stamped = false;   // --stamp: the number each board got
};

SummaryColumns ColumnsOf(const std::vector<GangMember>& members) {
    SummaryColumns columns;
    for (const GangMember& member : members) {
        columns.labelled = columns.labelled || !member.Label().empty();
        columns.repeated = columns.repeated || member.BoardsComplete() + member.BoardsFailed() > 0;
        columns.stamped = columns.stamped || !member.Stamp().empty();
    }
    return columns;
}

std::vector<std::string> SummaryRow(const GangMember& member, const SummaryColumns& columns) {
    std::vector<std::string> row = {member.Port()};
    if (columns.labelled) {
        row.push_back(member.Label().empty() ? "-" : member.Label());
    }
    row.insert(row.end(),
               {member.Board().empty() ? "-" : member.Board(), member.Phase(),
                std::to_string(member.LinesUploaded()), FormatText("%.1f", member.Seconds())});
    if (columns.repeated) {
        row.insert(row.end(), {std::to_string(member.BoardsComplete()),
                               std::to_string(member.BoardsFailed())});
    }
    if (columns.stamped) {
        row.push_back(member.Stamp().empty() ? "-" : member.Stamp());
    }
    return row;
}

// The rows in columns as wide as their widest cell, two spaces apart; right:
// the columns aligned to the right (numbers).
std::string AlignedRows(const std::vector<std::vector<std::string>>& rows,
                        const std::vector<bool>& right) {
    std::vector<size_t> widths(right.size(), 0);
    for (const auto& row : rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += (c > 0 ? "  " : "") +
                    (right[c] ? RightAligned(row[c], widths[c]) : Padded(row[c], widths[c]));
        }
        line.erase(line.find_last_not_of(' ') + 1);
        text += line + "\n";
    }
    return text;
}

}  // namespace

std::string FormatGangSummary(const std::vector<GangMember>& members) {
    const SummaryColumns columns = ColumnsOf(members);
    std::vector<std::vector<std::string>> rows = {{"Port"}};
    // Numbers to the right, text to the left.
    std::vector<bool> right = {false};
    if (columns.labelled) {
        rows[0].push_back("Label");
        right.push_back(false);
    }
    rows[0].insert(rows[0].end(), {"Board", "Outcome", "Records", "Seconds"});
    right.insert(right.end(), {false, false, true, true});
    if (columns.repeated) {
        rows[0].insert(rows[0].end(), {"Complete", "Failed"});
        right.insert(right.end(), {true, true});
    }
    if (columns.stamped) {
        rows[0].push_back("Stamp");
        right.push_back(false);
    }
    int complete = 0;
    BoardTally boards;
    for (const GangMember& member : members) {
        rows.push_back(SummaryRow(member, columns));
        boards.complete += member.BoardsComplete();
        boards.failed += member.BoardsFailed();
        complete += member.Outcome() == RunOutcome::Complete ? 1 : 0;
    }
    std::string table = messages::kGangSummaryHeading + AlignedRows(rows, right);
    table += FormatText(messages::kGangTallyFormat, complete, static_cast<int>(members.size()));
    if (columns.repeated) {
        table += FormatText(messages::kBoardsInAllFormat, boards.complete, boards.failed);
    }
    for (const GangMember& member : members) {
        if (member.KilledAfterSeconds() > 0) {
            table += FormatText(messages::kGangKilledFormat, member.Port().c_str(),
                                member.KilledAfterSeconds());
        }
    }
    return table;
}
