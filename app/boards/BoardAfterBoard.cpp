#include "app/boards/BoardAfterBoard.h"

#include <cstdio>
#include <optional>

#include "app/Outcome.h"
#include "app/boards/BoardMessages.h"
#include "app/operator/BoardLabels.h"
#include "app/stamp/StampMessages.h"
#include "app/stamp/Stamping.h"
#include "errors/FatalError.h"
#include "errors/FormatText.h"
#include "errors/Interrupted.h"
#include "protocol/Downloader.h"
#include "protocol/ProtocolMessages.h"
#include "serial/Interrupt.h"
#include "text/LineBuf.h"
#include "text/Shown.h"

namespace {

// One board's session. Returns the operator's request that cut it short, 0
// when it ran to its end.
int RunSession(Downloader& downloader) {
    try {
        while (downloader.Step() == 0) {
        }
    } catch (const InterruptedError& interrupt) {
        downloader.EndProgressLine();
        return interrupt.Request();
    }
    return 0;
}

void ShowTally(uint32_t number, const char* outcome, const BoardTally& tally,
               const Stamping* stamping, const std::optional<std::string>& label) {
    const auto board = static_cast<unsigned>(number);
    const std::string stamp = stamping != nullptr ? stamping->ValueText() : std::string();
    if (!stamp.empty() && label) {
        ShowFormatted(messages::kBoardTallyStampLabelFormat, board, stamp.c_str(), label->c_str(),
                      outcome, tally.complete, tally.failed);
    } else if (!stamp.empty()) {
        ShowFormatted(messages::kBoardTallyStampFormat, board, stamp.c_str(), outcome,
                      tally.complete, tally.failed);
    } else if (label) {
        ShowFormatted(messages::kBoardTallyLabelFormat, board, label->c_str(), outcome,
                      tally.complete, tally.failed);
    } else {
        ShowFormatted(messages::kBoardTallyFormat, board, outcome, tally.complete, tally.failed);
    }
    FlushShown();
}

// Waits for the board just programmed to go; false when the operator ended
// the run meanwhile.
bool NextBoardDue(COMPort& port, const ProtocolOptions& options, RunStory& story, uint32_t done) {
    story.Say(FormatText(messages::kTakeBoardAwayFormat, static_cast<unsigned>(done)));
    LineBuf lineBuf;
    try {
        Downloader::AwaitBoardGone(lineBuf, port, options);
    } catch (const InterruptedError&) {
        return false;
    }
    return true;
}

// Waits for the start signal to end (after a board) or to come (before
// one); false as below.
bool AwaitStartSignal(COMPort& port, RunStory& story, Fixture& fixture, bool end) {
    story.Say(end ? fixture.StartSignalEndLine() : fixture.StartSignalLine());
    return end ? fixture.AwaitStartSignalEnd(port) : fixture.AwaitStartSignal(port);
}

// The next board is due: the last one gone (or the start signal ended), and
// the start signal there. False when the operator ended the run meanwhile.
bool AwaitBoard(COMPort& port, const ProtocolOptions& options, RunStory& story, Fixture& fixture,
                uint32_t number) {
    if (number > 1) {
        const bool due = fixture.WaitsForStartSignal()
                             ? AwaitStartSignal(port, story, fixture, true)
                             : NextBoardDue(port, options, story, number - 1);
        if (!due) {
            return false;
        }
    }
    return !fixture.WaitsForStartSignal() || AwaitStartSignal(port, story, fixture, false);
}

// The label of board number (the first one's was asked for before the port
// was opened); false when none came: the input ended, or the operator ended
// the run meanwhile. True, with nothing, without labels.
bool LabelFor(RunStory& story, uint32_t number, std::optional<std::string>& label) {
    if (story.Labels() == nullptr) {
        return true;
    }
    label = story.Labels()->ForBoard(number).label;
    return label.has_value();
}

// A board's session and the first steps of its end: its number closed, then
// the fixture's end sequence, whatever ended the session.
struct BoardSession {
    int request = 0;          // the operator's request that cut it short; 0: none
    bool identified = false;  // the board answered
};

BoardSession RunBoard(COMPort& port, const ProtocolOptions& options, UploadFile& file,
                      RunStory& story, Fixture& fixture) {
    Downloader downloader(file, port, options);
    BoardSession session;
    try {
        session.request = RunSession(downloader);
    } catch (...) {
        story.CloseNumberOnError();
        fixture.EndBoard(port, true);
        throw;
    }
    session.identified = downloader.Identified();
    story.CloseNumber(session.request);
    fixture.EndBoard(port, false);
    return session;
}

}  // namespace

int RunBoardAfterBoard(COMPort& port, const Settings& settings, const ProtocolOptions& options,
                       UploadFile& file, const BoardImage& image, RunStory& story,
                       Fixture& fixture) {
    BoardTally tally;
    int cutShort = 0;  // the request that cut a board's session short
    for (uint32_t number = 1; settings.boards == 0 || number <= settings.boards; ++number) {
        std::optional<std::string> label;
        if (!LabelFor(story, number, label) || !AwaitBoard(port, options, story, fixture, number)) {
            story.DiscardBoard();
            break;
        }
        story.BeginBoard(number, label);
        if (number > 1) {
            image.OpenFor(file);
        }
        fixture.RecordStartWait();
        fixture.SetBoardNumber(number);
        const BoardSession session = RunBoard(port, options, file, story, fixture);
        const int request = session.request;
        if (file.ReadFailed()) {
            return 1;
        }
        if (request != 0 && !session.identified) {
            story.DiscardBoard();
            break;
        }
        const RunOutcome outcome = story.EndBoard(request);
        ++(outcome == RunOutcome::Complete ? tally.complete : tally.failed);
        ShowTally(number, OutcomeName(outcome), tally, story.Stamp(), label);
        story.ShowResult(tally);
        if (request != 0) {
            cutShort = request;
            break;
        }
    }
    // The run ends here, in order, whatever the operator asked: with the
    // tally's status when the request came between boards, else as the
    // request ends a run, once the tally is shown.
    ClearInterrupt();
    ShowFormatted(messages::kBoardsInAllFormat, tally.complete, tally.failed);
    FlushShown();
    if (cutShort != 0) {
        throw InterruptedError(cutShort);
    }
    return tally.failed == 0 ? 0 : 1;
}
