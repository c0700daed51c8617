#include "app/boards/BoardAfterBoard.h"

#include <cstdio>
#include <optional>
#include <string>

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

// What cut one board's session short: the operator's request (0: none),
// or a number the ledger could not reserve (its message; empty: none).
struct SessionCut {
    int request = 0;
    std::string ledgerError;
};

SessionCut RunSession(Downloader& downloader) {
    SessionCut cut;
    try {
        while (downloader.Step() == 0) {
        }
    } catch (const InterruptedError& interrupt) {
        downloader.EndProgressLine();
        cut.request = interrupt.Request();
    } catch (const StampReservationError& error) {
        // The board gets no record line; the run goes on to the next one.
        cut.ledgerError = error.what();
        std::fflush(stdout);
        std::fputs(cut.ledgerError.c_str(), stderr);
    }
    return cut;
}

constexpr const char* kTakeBoardAwayFormat =
    "Take board %u away (or switch it off); the next board is awaited once the line is quiet.\n";

void WriteBoardRecord(RunReport& report, RunOutcome outcome, const SessionCut& cut,
                      const char* reportPath) {
    const bool interrupted = cut.request != 0;
    const RunEndKind kind = interrupted                ? RunEndKind::Interrupted
                            : !cut.ledgerError.empty() ? RunEndKind::LedgerError
                                                       : RunEndKind::Normal;
    if (!report.Write(kind, outcome == RunOutcome::Complete ? 0 : 1, cut.ledgerError,
                      interrupted ? InterruptName(cut.request) : nullptr)) {
        std::fflush(stdout);
        std::fprintf(stderr, messages::kCannotWriteReportFormat, reportPath);
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
                       Fixture& fixture, Stamping* stamping, GangEventWriter* gang) {
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
        SessionCut cut;
        try {
            cut = RunSession(downloader);
        } catch (...) {
            fixture.EndBoard(port, true);
            throw;
        }
        fixture.EndBoard(port, false);
        if (file.ReadFailed()) {
            return 1;
        }
        if (cut.request != 0 && !downloader.Identified()) {
            if (report != nullptr) {
                report->Discard();
            }
            break;
        }
        // A session that ran to its end has told how it ended.
        RunOutcome outcome = !cut.ledgerError.empty() ? RunOutcome::LedgerError
                             : cut.request != 0       ? RunOutcome::Interrupted
                                                : ending.Ending().value_or(RunOutcome::Failed);
        if (stamping != nullptr) {
            stamping->Finish(outcome);
            outcome = OutcomeAfterClosing(outcome, stamping->ClosingFailed());
        }
        ++(outcome == RunOutcome::Complete ? tally.complete : tally.failed);
        ShowTally(number, OutcomeName(outcome), tally, stamping);
        std::fflush(stdout);
        if (gang != nullptr) {
            gang->BoardEnded(outcome);
        }
        if (report != nullptr) {
            WriteBoardRecord(*report, outcome, cut, settings.reportFile);
        }
        if (cut.request != 0) {
            break;
        }
    }
    // The run ends here, in order, whatever the operator asked.
    ClearInterrupt();
    ShowFormatted(messages::kBoardsInAllFormat, tally.complete, tally.failed);
    std::fflush(stdout);
    return tally.failed == 0 ? 0 : 1;
}
