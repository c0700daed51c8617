#include "app/RunStory.h"

#include <cstdio>
#include <random>
#include <stdexcept>

#include "app/ProgramFlowMessages.h"
#include "app/boards/BoardImage.h"
#include "app/events/EventStream.h"
#include "app/factory/RecordForwarder.h"
#include "app/fixture/Fixture.h"
#include "app/fixture/ResultCommand.h"
#include "app/operator/BoardLabels.h"
#include "app/operator/OperatorScreen.h"
#include "app/operator/OperatorSwitches.h"
#include "app/report/ReportMessages.h"
#include "app/report/RunReport.h"
#include "app/stamp/Stamping.h"
#include "errors/FatalError.h"
#include "errors/FormatText.h"
#include "errors/Interrupted.h"
#include "errors/PortError.h"
#include "errors/ProgramError.h"
#include "process/ParentChannel.h"
#include "serial/Interrupt.h"
#include "text/AppendFile.h"
#include "text/Sha256.h"
#include "text/Shown.h"

std::string GeneratedRunId() {
    std::random_device source;
    uint8_t bytes[16];
    for (size_t i = 0; i < sizeof bytes; i += 4) {
        const uint32_t word = source();
        for (size_t j = 0; j < 4; ++j) {
            bytes[i + j] = static_cast<uint8_t>(word >> (8 * j));
        }
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
    std::string id;
    for (size_t i = 0; i < sizeof bytes; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            id += '-';
        }
        id += HexOfDigest(&bytes[i], 1);
    }
    return id;
}

RunEndKind EndOfError(RunEnd& end) {
    try {
        throw;
    } catch (const InterruptedError& interrupt) {
        end.interrupt = interrupt.Request();
        return RunEndKind::Interrupted;
    } catch (const StampReservationError& error) {
        end = {error.Status(), error.what()};
        return RunEndKind::LedgerError;
    } catch (const PowerCommandError& error) {
        end = {error.Status(), error.what()};
        return RunEndKind::PowerCommandFailed;
    } catch (const ImageChangedError& error) {
        end = {error.Status(), error.what()};
        return RunEndKind::ImageChanged;
    } catch (const ProgramError& error) {
        end = {error.Status(), error.what()};
        return RunEndKind::ProgramError;
    } catch (const std::runtime_error& error) {
        const std::string detail = DetailOf(error);
        end = {1, detail.empty() ? FormatText(messages::kErrorOccurredFormat, error.what())
                                 : FormatText(messages::kErrorOccurredWithDetailFormat,
                                              error.what(), detail.c_str())};
        return RunEndKind::PortError;
    }
}

void BoardEnding::OnOutcome(SessionOutcome outcome, const char* said) {
    ending = OutcomeOf(outcome);
    message = said;
}

void BoardEnding::OnImageRefused(const ImageRefusal& image) {
    refusal = image.refusal;
}

std::string BoardEnding::Said(const std::string& runMessage) const {
    std::string said = !refusal.empty() ? refusal : !runMessage.empty() ? runMessage : message;
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) {
        said.pop_back();
    }
    return said;
}

void BoardEnding::Forget() {
    ending.reset();
    message.clear();
}

RunStory::RunStory(const Settings& runSettings) : settings(runSettings), start(Clock::now()) {}

RunStory::~RunStory() = default;

void RunStory::Open() {
    runId = settings.runId != nullptr ? settings.runId : GeneratedRunId();
    if (settings.eventsFile != nullptr || settings.gangMember != nullptr) {
        events = std::make_unique<EventStream>(start);
        if (settings.eventsToOutput) {
            events->ToStandardOutput();
        } else if (settings.eventsFile != nullptr) {
            events->ToFile(settings.eventsFile);
        }
        if (settings.gangMember != nullptr) {
            channel = std::make_unique<ParentChannel>(settings.gangMember);
            events->ToGang(*channel);
        }
    }
    if (settings.reportFile != nullptr) {
        reportFile = std::make_unique<AppendFile>();
        if (!reportFile->Open(settings.reportFile)) {
            FatalError(messages::kCannotOpenReportFormat, settings.reportFile);
        }
    }
    if (reportFile != nullptr || events != nullptr) {
        record = std::make_unique<RunReport>(settings);
        record->SetRunId(runId);
    }
    // The factory's database (--report-db) lets the run in while the board
    // is programmed.
    forwarder = MakeRecordForwarder(settings.reportFile, settings.reportDb);
    if (forwarder != nullptr) {
        forwarder->StartEarly();
    }
    if (LabelsInUse(settings)) {
        labels = std::make_unique<BoardLabels>(settings);
    }
    if (settings.resultCommand != nullptr) {
        resultCommand = std::make_unique<ResultCommand>(settings, runId);
    }
    screen = OperatorScreen::ForRun(settings);
    // The record hears every fact before the events tell them.
    listeners.Add(record.get());
    listeners.Add(&ending);
    listeners.Add(events.get());
    listeners.Add(resultCommand.get());
    listeners.Add(screen.get());
}

std::optional<std::string> RunStory::LedgerRunId() const {
    if (settings.runId != nullptr || record != nullptr) {
        return runId;
    }
    return std::nullopt;
}

void RunStory::Begin() {
    begun = true;
    RunBegin begin;
    begin.runId = runId;
    begin.station = settings.station;
    begin.mode = settings.mode;
    begin.port = settings.portName;
    begin.baud = settings.baudRate;
    begin.file = settings.mode == ModeConsole ? nullptr : settings.dataFile;
    listeners.OnRunBegin(begin);
    // The first board is open, so that an error before it came is
    // recorded; it begins with BeginBoard.
    boardOpen = true;
}

void RunStory::SetStamping(std::unique_ptr<Stamping> numbers) {
    stamping = std::move(numbers);
    listeners.AddSession(stamping.get());
}

void RunStory::BeginBoard(std::optional<uint32_t> number, const std::optional<std::string>& label) {
    ending.Forget();
    boardNumber = number;
    boardOpen = true;
    boardTold = true;
    listeners.OnBoardBegin({number, label});
    if (stamping != nullptr) {
        stamping->StartBoard(number);
    }
}

void RunStory::DiscardBoard() {
    boardOpen = false;
    boardTold = false;
    if (record != nullptr) {
        record->Discard();
    }
}

RunOutcome RunStory::BoardOutcome(int request) const {
    // A session cut short by the operator is interrupted, whatever it had
    // told before.
    return request != 0 ? RunOutcome::Interrupted
                        : OutcomeOfRun({RunEndKind::Normal, false, std::nullopt, ending.Ending()});
}

RunOutcome RunStory::ErrorOutcome(RunEndKind kind) const {
    return OutcomeOfRun({kind, settings.mode == ModeConsole, preset, ending.Ending()});
}

void RunStory::CloseNumber(int request) {
    if (stamping != nullptr) {
        stamping->Finish(BoardOutcome(request));
    }
}

void RunStory::CloseNumberOnError() {
    if (stamping == nullptr) {
        return;
    }
    RunEnd said;
    try {
        stamping->Finish(ErrorOutcome(EndOfError(said)));
    } catch (...) {
        // An error of no known kind ends the program abnormally anyway.
    }
}

RunOutcome RunStory::OutcomeWithClosing(RunOutcome outcome, std::string& message) {
    if (stamping == nullptr) {
        return outcome;
    }
    stamping->Finish(outcome);
    const RunOutcome closed = OutcomeAfterClosing(outcome, stamping->ClosingFailed());
    if (closed != outcome && message.empty()) {
        message = stamping->ClosingMessage();
    }
    return closed;
}

RunOutcome RunStory::EndBoard(int request, const std::string& ledgerError) {
    std::string message = ledgerError;
    const RunOutcome outcome = OutcomeWithClosing(
        ledgerError.empty() ? BoardOutcome(request) : RunOutcome::LedgerError, message);
    FinishBoard(outcome, BoardExitStatus(outcome), message,
                request != 0 ? InterruptName(request) : nullptr, nullptr);
    return outcome;
}

void RunStory::ShowResult(const BoardTally& tally) {
    if (screen != nullptr) {
        screen->ShowResult(&tally);
    }
}

void RunStory::Say(const std::string& line) {
    if (screen != nullptr) {
        screen->Say(line);
    } else {
        Show(line.c_str());
        FlushShown();
    }
}

void RunStory::FinishBoard(RunOutcome outcome, std::optional<int> exitStatus,
                           const std::string& message, const char* signal, RunEnd* runEnd) {
    boardOpen = false;
    if (!boardTold) {
        listeners.OnBoardBegin({});
    }
    boardTold = false;
    // 1. The number's closing, unless the session's end or the caller did
    // it before the fixture's end sequence (steps 2 and 3).
    if (stamping != nullptr) {
        stamping->Finish(outcome);
    }
    // 4. The result command, which never changes the outcome.
    if (resultCommand != nullptr) {
        resultCommand->Run(outcome, exitStatus,
                           record != nullptr ? record->RecordId() : std::string(), listeners);
    }
    // 5. The record.
    BoardEnd end;
    end.number = settings.repeat ? boardNumber : std::nullopt;
    end.outcome = outcome;
    end.exitStatus = exitStatus;
    end.message = ending.Said(message);
    if (record != nullptr) {
        end.record = record->Make(outcome, exitStatus, message, signal);
    }
    AppendRecord(end.record, runEnd);
    // 6. The board's end told; 7. the records on disk go on to the factory's
    // database.
    listeners.OnBoardEnd(end);
    Forward(signal, runEnd);
}

void RunStory::AppendRecord(const std::string& line, RunEnd* runEnd) {
    // The record is forced to disk before the run, or its next board, goes on.
    if (reportFile == nullptr || reportFile->AppendRecord(line + "\n")) {
        return;
    }
    const std::string said = FormatText(messages::kCannotWriteReportFormat, settings.reportFile);
    if (runEnd == nullptr) {
        FlushShown();
        std::fputs(said.c_str(), stderr);
    } else if (runEnd->interrupt == 0) {
        runEnd->message += said;
        runEnd->status = runEnd->status == 0 ? 1 : runEnd->status;
    }
}

void RunStory::Forward(const char* signal, RunEnd* runEnd) {
    // A board or a run the operator's request ended forwards nothing: its
    // record waits in the file for the next forward, and nothing more is said.
    if (forwarder == nullptr || signal != nullptr) {
        return;
    }
    const std::string said = forwarder->Forward();
    if (runEnd != nullptr) {
        runEnd->message += said;
    } else if (!said.empty()) {
        FlushShown();
        std::fputs(said.c_str(), stderr);
    }
}

void RunStory::End(RunEnd& end, RunEndKind kind) {
    const bool bySignal = end.interrupt != 0;
    const char* signal = bySignal ? InterruptName(end.interrupt) : nullptr;
    // The record's error; a closing's message was said already, so the
    // run's own message stays as it is.
    std::string message = end.message;
    const RunOutcome outcome = OutcomeWithClosing(ErrorOutcome(kind), message);
    if (outcome == RunOutcome::LedgerError && !bySignal && end.status == 0) {
        end.status = 1;
    }
    // Events that could not be written fail the run, as its record says.
    FailOnEventsLost(end, bySignal);
    if (boardOpen && begun) {
        FinishBoard(outcome, bySignal ? std::nullopt : std::optional<int>(end.status), message,
                    signal, &end);
        // 8. A single board's result (or the board an error ended) on the
        // operator's screen.
        if (screen != nullptr) {
            screen->ShowResult(nullptr);
        }
    } else if (stamping != nullptr) {
        stamping->Finish(outcome);
    }
    if (!begun) {
        return;
    }
    FailOnEventsLost(end, bySignal);
    RunEndFacts facts;
    facts.exitStatus = bySignal ? std::nullopt : std::optional<int>(end.status);
    facts.outcome = OutcomeOfEnd(outcome, facts.exitStatus);
    facts.signal = signal;
    facts.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    listeners.OnRunEnd(facts);
    FailOnEventsLost(end, bySignal);
}

void RunStory::FailOnEventsLost(RunEnd& end, bool bySignal) const {
    if (events != nullptr && events->Failed() && !bySignal && end.status == 0) {
        end.status = 1;
    }
}
