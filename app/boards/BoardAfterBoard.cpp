#include "app/boards/BoardAfterBoard.h"

#include <cstdio>
#include <optional>

#include "app/Outcome.h"
#include "app/boards/BoardMessages.h"
#include "app/stamp/StampMessages.h"
#include "app/stamp/Stamping.h"
#include "errors/FatalError.h"
#include "errors/Interrupted.h"
#include "protocol/Downloader.h"
#include "protocol/ProtocolMessages.h"
#include "serial/Interrupt.h"
#include "text/LineBuf.h"
#include "text/Shown.h"

namespace {

struct Tally {
    unsigned complete = 0;
    unsigned failed = 0;
};

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

constexpr const char* kTakeBoardAwayFormat =
    "Take board %u away (or switch it off); the next board is awaited once the line is quiet.\n";

void ShowTally(uint32_t number, const char* outcome, const Tally& tally, const Stamping* stamping) {
    if (stamping != nullptr && !stamping->ValueText().empty()) {
        ShowFormatted(messages::kBoardTallyStampFormat, static_cast<unsigned>(number),
                      stamping->ValueText().c_str(), outcome, tally.complete, tally.failed);
    } else {
        ShowFormatted(messages::kBoardTallyFormat, static_cast<unsigned>(number), outcome,
                      tally.complete, tally.failed);
    }
}

// Waits for the board just programmed to go; false when the operator ended
// the run meanwhile.
bool NextBoardDue(COMPort& port, const ProtocolOptions& options, uint32_t done) {
    ShowFormatted(kTakeBoardAwayFormat, static_cast<unsigned>(done));
    FlushShown();
    LineBuf lineBuf;
    try {
        Downloader::AwaitBoardGone(lineBuf, port, options);
    } catch (const InterruptedError&) {
        return false;
    }
    return true;
}

// The next board is due: the last one gone (or the start signal ended), and
// the start signal there. False when the operator ended the run meanwhile.
bool AwaitBoard(COMPort& port, const ProtocolOptions& options, Fixture& fixture, uint32_t number) {
    if (number > 1) {
        const bool due = fixture.WaitsForStartSignal() ? fixture.AwaitStartSignalEnd(port)
                                                       : NextBoardDue(port, options, number - 1);
        if (!due) {
            return false;
        }
    }
    return !fixture.WaitsForStartSignal() || fixture.AwaitStartSignal(port);
}

}  // namespace

int RunBoardAfterBoard(COMPort& port, const Settings& settings, const ProtocolOptions& options,
                       UploadFile& file, const BoardImage& image, RunStory& story,
                       Fixture& fixture) {
    Tally tally;
    int cutShort = 0;  // the request that cut a board's session short
    for (uint32_t number = 1; settings.boards == 0 || number <= settings.boards; ++number) {
        if (!AwaitBoard(port, options, fixture, number)) {
            story.DiscardBoard();
            break;
        }
        story.BeginBoard(number);
        if (number > 1) {
            image.OpenFor(file);
        }
        fixture.RecordStartWait();
        fixture.SetBoardNumber(number);
        Downloader downloader(file, port, options);
        int request = 0;
        try {
            request = RunSession(downloader);
        } catch (...) {
            fixture.EndBoard(port, true);
            throw;
        }
        fixture.EndBoard(port, false);
        if (file.ReadFailed()) {
            return 1;
        }
        if (request != 0 && !downloader.Identified()) {
            story.DiscardBoard();
            break;
        }
        const RunOutcome outcome = story.EndBoard(request);
        ++(outcome == RunOutcome::Complete ? tally.complete : tally.failed);
        ShowTally(number, OutcomeName(outcome), tally, story.Stamp());
        FlushShown();
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
