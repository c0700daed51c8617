#include "app/boards/BoardAfterBoard.h"

#include <cstdio>
#include <optional>

#include "app/Outcome.h"
#include "app/SessionListeners.h"
#include "app/boards/BoardMessages.h"
#include "app/report/ReportMessages.h"
#include "app/stamp/StampMessages.h"
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

void WriteBoardRecord(RunReport& report, bool complete, int request, const char* reportPath) {
    const bool interrupted = request != 0;
    if (!report.Write(interrupted ? RunEndKind::Interrupted : RunEndKind::Normal, complete ? 0 : 1,
                      "", interrupted ? InterruptName(request) : nullptr)) {
        std::fflush(stdout);
        std::fprintf(stderr, messages::kCannotWriteReportFormat, reportPath);
    }
}

// The board's record, on disk, goes to the factory's database; a board the
// operator's request cut short ends the run, and its record waits for the
// next forward.
void ForwardBoardRecord(RecordForwarder* forwarder, int request) {
    if (forwarder == nullptr || request != 0) {
        return;
    }
    const std::string said = forwarder->Forward();
    if (!said.empty()) {
        std::fflush(stdout);
        std::fputs(said.c_str(), stderr);
    }
}

void ShowTally(uint32_t number, const char* outcome, const Tally& tally,
               const Stamping* stamping) {
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
    std::printf(kTakeBoardAwayFormat, static_cast<unsigned>(done));
    std::fflush(stdout);
    LineBuf lineBuf;
    try {
        Downloader::AwaitBoardGone(lineBuf, port, options);
    } catch (const InterruptedError&) {
        return false;
    }
    return true;
}

}  // namespace

int RunBoardAfterBoard(COMPort& port, const Settings& settings, const ProtocolOptions& options,
                       UploadFile& file, const BoardImage& image, RunReport* report,
                       Fixture& fixture, Stamping* stamping, GangEventWriter* gang,
                       RecordForwarder* forwarder) {
    Tally tally;
    // The tally hears each board's ending beside whoever listened already.
    SessionEnding ending;
    SessionListeners listeners;
    listeners.Add(options.observer);
    listeners.Add(&ending);
    ProtocolOptions boardOptions = options;
    boardOptions.observer = &listeners;
    for (uint32_t number = 1; settings.boards == 0 || number <= settings.boards; ++number) {
        if (number > 1) {
            const bool due = fixture.WaitsForStartSignal()
                                 ? fixture.AwaitStartSignalEnd(port)
                                 : NextBoardDue(port, options, number - 1);
            if (!due) {
                break;
            }
        }
        if (fixture.WaitsForStartSignal() && !fixture.AwaitStartSignal(port)) {
            break;
        }
        if (report != nullptr) {
            report->StartBoard(number);
        }
        if (number > 1) {
            image.OpenFor(file);
        }
        if (stamping != nullptr) {
            stamping->StartBoard(number);
        }
        ending.Forget();
        fixture.RecordStartWait();
        fixture.SetBoardNumber(number);
        Downloader downloader(file, port, boardOptions);
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
            if (report != nullptr) {
                report->Discard();
            }
            break;
        }
        // A session that ran to its end has told how it ended.
        const RunOutcome outcome =
            request != 0 ? RunOutcome::Interrupted : ending.Ending().value_or(RunOutcome::Failed);
        ++(outcome == RunOutcome::Complete ? tally.complete : tally.failed);
        if (stamping != nullptr) {
            stamping->Finish(outcome);
        }
        ShowTally(number, OutcomeName(outcome), tally, stamping);
        std::fflush(stdout);
        if (gang != nullptr) {
            gang->BoardEnded(outcome);
        }
        if (report != nullptr) {
            WriteBoardRecord(*report, outcome == RunOutcome::Complete, request,
                             settings.reportFile);
            ForwardBoardRecord(forwarder, request);
        }
        if (request != 0) {
            break;
        }
    }
    // The run ends here, in order, whatever the operator asked.
    ClearInterrupt();
    ShowFormatted(messages::kBoardsInAllFormat, tally.complete, tally.failed);
    std::fflush(stdout);
    return tally.failed == 0 ? 0 : 1;
}
