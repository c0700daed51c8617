#include "app/RunStory.h"

#include <cstdio>
#include <random>

#include "app/events/EventStream.h"
#include "app/factory/RecordForwarder.h"
#include "app/report/ReportMessages.h"
#include "app/report/RunReport.h"
#include "app/stamp/Stamping.h"
#include "errors/FatalError.h"
#include "errors/FormatText.h"
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
    // The record hears every fact before the events tell them.
    listeners.Add(record.get());
    listeners.AddSession(&ending);
    listeners.Add(events.get());
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
    // A run of several boards has its first one open too, so that an error
    // before it came is recorded; its board begins with BeginBoard.
    boardOpen = true;
    if (!settings.repeat) {
        boardTold = true;
        listeners.OnBoardBegin(std::nullopt);
    }
}

void RunStory::SetStamping(std::unique_ptr<Stamping> numbers) {
    stamping = std::move(numbers);
    listeners.AddSession(stamping.get());
}

void RunStory::BeginBoard(uint32_t number) {
    ending.Forget();
    boardNumber = number;
    boardOpen = true;
    boardTold = true;
    listeners.OnBoardBegin(number);
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

RunOutcome RunStory::EndBoard(int request) {
    // A session cut short by the operator is interrupted, whatever it had
    // told before.
    const RunOutcome outcome =
        request != 0 ? RunOutcome::Interrupted
                     : OutcomeOfRun({RunEndKind::Normal, false, std::nullopt, ending.Ending()});
    FinishBoard(outcome, BoardExitStatus(outcome), std::string(),
                request != 0 ? InterruptName(request) : nullptr, nullptr);
    return outcome;
}

void RunStory::FinishBoard(RunOutcome outcome, std::optional<int> exitStatus,
                           const std::string& message, const char* signal, RunEnd* runEnd) {
    boardOpen = false;
    if (!boardTold) {
        listeners.OnBoardBegin(std::nullopt);
    }
    boardTold = false;
    if (stamping != nullptr) {
        stamping->Finish(outcome);
    }
    BoardEnd end;
    end.number = settings.repeat ? boardNumber : std::nullopt;
    end.outcome = outcome;
    end.exitStatus = exitStatus;
    if (record != nullptr) {
        end.record = record->Make(outcome, exitStatus, message, signal);
    }
    // The record is forced to disk before the run, or its next board, goes on.
    if (reportFile != nullptr && !reportFile->AppendRecord(end.record + "\n")) {
        const std::string said =
            FormatText(messages::kCannotWriteReportFormat, settings.reportFile);
        if (runEnd == nullptr) {
            FlushShown();
            std::fputs(said.c_str(), stderr);
        } else if (runEnd->interrupt == 0) {
            runEnd->message += said;
            runEnd->status = runEnd->status == 0 ? 1 : runEnd->status;
        }
    }
    Forward(signal, runEnd);
    listeners.OnBoardEnd(end);
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
    const RunOutcome outcome =
        OutcomeOfRun({kind, settings.mode == ModeConsole, preset, ending.Ending()});
    const bool bySignal = end.interrupt != 0;
    const char* signal = bySignal ? InterruptName(end.interrupt) : nullptr;
    if (boardOpen && begun) {
        FinishBoard(outcome, bySignal ? std::nullopt : std::optional<int>(end.status), end.message,
                    signal, &end);
    } else if (stamping != nullptr) {
        stamping->Finish(outcome);
    }
    if (!begun) {
        return;
    }
    if (events != nullptr && events->Failed() && !bySignal && end.status == 0) {
        end.status = 1;
    }
    RunEndFacts facts;
    facts.outcome = outcome;
    facts.exitStatus = bySignal ? std::nullopt : std::optional<int>(end.status);
    facts.signal = signal;
    facts.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    listeners.OnRunEnd(facts);
    if (events != nullptr && events->Failed() && !bySignal && end.status == 0) {
        end.status = 1;
    }
}
