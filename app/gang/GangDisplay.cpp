#include "app/gang/GangDisplay.h"

#include <algorithm>
#include <utility>

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

std::string FormatGangSummary(const std::vector<GangMember>& members) {
    std::vector<std::vector<std::string>> rows = {
        {"Port", "Board", "Outcome", "Records", "Seconds"}};
    // Numbers to the right, text to the left.
    std::vector<bool> right = {false, false, false, true, true};
    // Board after board: each port's boards, complete and failed.
    const bool repeated = std::any_of(members.begin(), members.end(), [](const GangMember& member) {
        return member.BoardsComplete() + member.BoardsFailed() > 0;
    });
    if (repeated) {
        rows[0].insert(rows[0].end(), {"Complete", "Failed"});
        right.insert(right.end(), {true, true});
    }
    // With --stamp, a last column: the number each board got.
    const bool stamped = std::any_of(members.begin(), members.end(), [](const GangMember& member) {
        return !member.Stamp().empty();
    });
    if (stamped) {
        rows[0].push_back("Stamp");
        right.push_back(false);
    }
    int complete = 0;
    unsigned boardsComplete = 0;
    unsigned boardsFailed = 0;
    for (const GangMember& member : members) {
        rows.push_back({member.Port(), member.Board().empty() ? "-" : member.Board(),
                        member.Phase(), std::to_string(member.LinesUploaded()),
                        FormatText("%.1f", member.Seconds())});
        if (repeated) {
            rows.back().push_back(std::to_string(member.BoardsComplete()));
            rows.back().push_back(std::to_string(member.BoardsFailed()));
            boardsComplete += member.BoardsComplete();
            boardsFailed += member.BoardsFailed();
        }
        if (stamped) {
            rows.back().push_back(member.Stamp().empty() ? "-" : member.Stamp());
        }
        complete += member.Outcome() == RunOutcome::Complete ? 1 : 0;
    }
    std::vector<size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    std::string table = messages::kGangSummaryHeading;
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += (c > 0 ? "  " : "") +
                    (right[c] ? RightAligned(row[c], widths[c]) : Padded(row[c], widths[c]));
        }
        line.erase(line.find_last_not_of(' ') + 1);
        table += line + "\n";
    }
    table += FormatText(messages::kGangTallyFormat, complete, static_cast<int>(members.size()));
    if (repeated) {
        table += FormatText(messages::kBoardsInAllFormat, boardsComplete, boardsFailed);
    }
    for (const GangMember& member : members) {
        if (member.KilledAfterSeconds() > 0) {
            table += FormatText(messages::kGangKilledFormat, member.Port().c_str(),
                                member.KilledAfterSeconds());
        }
    }
    return table;
}
