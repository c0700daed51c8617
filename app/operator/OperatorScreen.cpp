#include "app/operator/OperatorScreen.h"

#include <cstdlib>

#include "app/operator/OperatorMessages.h"
#include "errors/FormatText.h"
#include "serial/ConsoleOutput.h"
#include "text/Shown.h"

namespace {

constexpr const char* kClearScreen = "\x1b[H\x1b[2J";
constexpr const char* kFactsGap = "   ";

}  // namespace

bool ScreenColour() {
    const char* noColour = std::getenv("NO_COLOR");
    return (noColour == nullptr || *noColour == '\0') && OutputTakesColour();
}

std::unique_ptr<OperatorScreen> OperatorScreen::ForRun(const Settings& settings) {
    if (!settings.operatorScreen || settings.gangMember != nullptr || settings.checkOnly != 0 ||
        !OutputTakesCursorMovements()) {
        return nullptr;
    }
    return std::make_unique<OperatorScreen>(ScreenColour());
}

ResultTile BoardTile(RunOutcome outcome, const std::string& message,
                     const std::vector<std::string>& facts) {
    ResultTile tile;
    tile.pass = outcome == RunOutcome::Complete;
    if (!tile.pass) {
        tile.failure = OutcomeName(outcome) + (message.empty() ? "" : ": " + message);
    }
    for (const std::string& fact : facts) {
        if (!fact.empty()) {
            tile.facts.push_back(fact);
        }
    }
    return tile;
}

std::string BoardFactsLine(std::optional<uint32_t> number, const std::string& label,
                           const std::string& stamp) {
    std::string line;
    const auto add = [&line](const std::string& part) {
        line += (line.empty() ? "" : kFactsGap) + part;
    };
    if (number) {
        add(FormatText(messages::kScreenBoardFormat, static_cast<unsigned>(*number)));
    }
    if (!label.empty()) {
        add(FormatText(messages::kScreenLabelFormat, label.c_str()));
    }
    if (!stamp.empty()) {
        add(FormatText(messages::kScreenStampFormat, stamp.c_str()));
    }
    return line;
}

OperatorScreen::OperatorScreen(bool withColour) : colour(withColour) {}

void OperatorScreen::OnBoardBegin(const BoardBegin& begin) {
    board = begin;
    stamp.clear();
    if (showing) {
        showing = false;
        Show(kClearScreen);
        FlushShown();
    }
}

void OperatorScreen::OnStamp(const StampNote& note) {
    stamp = note.text;
}

void OperatorScreen::OnBoardEnd(const BoardEnd& end) {
    const std::string facts = BoardFactsLine(end.number, board.label.value_or(""), stamp);
    tile = BoardTile(end.outcome, end.message, {facts});
}

void OperatorScreen::ShowResult(const BoardTally* tally) {
    if (tally != nullptr) {
        tile.facts.push_back(
            FormatText(messages::kScreenTallyFormat, tally->complete, tally->failed));
    }
    showing = true;
    Draw(std::string());
}

void OperatorScreen::Say(const std::string& line) {
    if (!showing) {
        Show(line.c_str());
        FlushShown();
        return;
    }
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    Draw(text);
}

void OperatorScreen::Draw(const std::string& lastLine) {
    const OutputSize size = OutputTerminalSize();
    const std::string screen = ResultScreenText({tile}, size.columns, size.rows, colour);
    ShowBytes(screen.data(), screen.size());
    const std::string last = CutAtCharacterBoundary(lastLine, static_cast<size_t>(size.columns - 1));
    ShowBytes(last.data(), last.size());
    FlushShown();
}
