#include "app/gang/Gang.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/RunStory.h"
#include "app/events/EventStream.h"
#include "app/factory/RecordForwarder.h"
#include "app/fixture/Fixture.h"
#include "app/fixture/ResultCommand.h"
#include "app/gang/GangDisplay.h"
#include "app/gang/GangMember.h"
#include "app/gang/GangMessages.h"
#include "app/gang/GangPorts.h"
#include "app/operator/BoardLabels.h"
#include "app/operator/OperatorMessages.h"
#include "app/operator/OperatorScreen.h"
#include "app/operator/OperatorSwitches.h"
#include "app/operator/ResultScreen.h"
#include "app/report/ReportMessages.h"
#include "app/report/RunReport.h"
#include "errors/FatalError.h"
#include "process/ChildProcesses.h"
#include "protocol/ProtocolMessages.h"
#include "serial/ConsoleOutput.h"
#include "serial/Interrupt.h"
#include "text/AppendFile.h"
#include "text/Shown.h"

namespace {

// How long one look at the runs may wait: the longest an interrupt waits to
// be passed on.
constexpr uint32_t kWaitMs = 100;
// The shortest time from one look at the runs to the next: what many runs
// write close together is taken in one look. A look costs the more the more
// ports there are, and with one look for each write the gang's own share
// of the processor would grow with the ports.
constexpr uint32_t kLookMs = 50;

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void WriteOut(bool toError, const std::string& text) {
    FlushShown();
    if (toError) {
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    } else {
        ShowBytes(text.data(), text.size());
        FlushShown();
    }
}

// The tiles of the operator's screen: each port's result, its board's
// label and number, and its tally.
void ShowGangScreen(const std::vector<GangMember>& members) {
    std::vector<ResultTile> tiles;
    const std::vector<std::string> names = GangPortNames([&members] {
        std::vector<std::string> ports;
        for (const GangMember& member : members) {
            ports.push_back(member.Port());
        }
        return ports;
    }());
    for (size_t i = 0; i < members.size(); ++i) {
        const GangMember& member = members[i];
        std::vector<std::string> facts = {
            BoardFactsLine(std::nullopt, member.Label(), member.Stamp())};
        if (member.BoardsComplete() + member.BoardsFailed() > 0) {
            facts.push_back(FormatText(messages::kScreenGangBoardsFormat, member.BoardsComplete(),
                                       member.BoardsFailed()));
        }
        tiles.push_back(
            BoardTile(member.Outcome().value_or(RunOutcome::Failed), member.Message(), facts));
        tiles.back().heading = names[i];
    }
    const OutputSize size = OutputTerminalSize();
    WriteOut(false, ResultScreenText(tiles, size.columns, size.rows, ScreenColour()));
}

// What a look at the runs shows goes out once the look is done (a line
// on standard error, after every line before it).
void WriteOutOfLook(bool toError, const std::string& text) {
    if (toError) {
        WriteOut(true, text);
    } else {
        ShowBytes(text.data(), text.size());
    }
}

struct Gang {
    std::vector<GangMember> members;
    ChildProcesses processes;
    Clock::time_point start = Clock::now();
    // The gang's own stream (--events); nullptr: none.
    std::unique_ptr<EventStream> events;
    // How long a run may take to end once interrupted.
    std::chrono::milliseconds grace{kInterruptGraceMs};
    bool interruptSent = false;
    std::vector<bool> passedOn;  // each member's run has been passed the interrupt
    bool killed = false;
    Clock::time_point interruptedAt;
    // Each port's board's label (--ask-label, --label-from), in the order of
    // the ports; empty without labels.
    std::vector<std::string> labels;
    // The operator ended the gang before any run started (while it asked
    // for the labels).
    bool endedBeforeRuns = false;
    bool checkedOnly = false;  // --check-only: no run was meant to start
    // --operator-screen on a terminal: the ports' results at the end.
    bool showScreen = false;

    // One run per port, each with a channel for its events; one that cannot
    // be started is reported and ends at once (failed).
    void StartRuns(int argumentCount, char** arguments, const std::vector<std::string>& ports);
    void TakeEvents(GangDisplay& display);
    void PassOnInterrupt();
    // The summary; returns how the gang ends.
    GangEnd Finish();
    // The gang's own last events.
    void TellEnd(const GangEnd& end);
    // The member whose run is child; nullptr for a child the gang did not start.
    GangMember* MemberOf(int child);
};

void Gang::StartRuns(int argumentCount, char** arguments, const std::vector<std::string>& ports) {
    const std::string program = RunningProgramPath(arguments[0]);
    for (const std::string& port : ports) {
        const double startedAt = Since(start);
        std::vector<std::string> runArguments =
            GangMemberArguments(argumentCount, arguments, program, port);
        if (!labels.empty()) {
            // Before the last argument, the gang's own --gang-member.
            runArguments.insert(runArguments.end() - 1, {"--gang-label", labels[members.size()]});
        }
        const int child = processes.Start(program, runArguments, true);
        GangMember::EventSink passOn;
        if (events != nullptr) {
            EventStream* stream = events.get();
            passOn = [stream, port, startedAt](const GangEvent& event) {
                stream->PassOn(event.told, port, startedAt);
            };
        }
        members.emplace_back(port, child, passOn);
        if (!labels.empty()) {
            members.back().SetLabel(labels[members.size() - 1]);
        }
        if (child < 0) {
            WriteOut(true, FormatText(messages::kGangCannotStartFormat, port.c_str()));
            members.back().End(1, false, false, Since(start));
        }
    }
}

GangEnd Gang::Finish() {
    bool allComplete = true;
    bool cutShort = false;
    for (GangMember& member : members) {
        if (InterruptRequest() != 0) {
            member.GangInterrupted();
        }
        allComplete = allComplete && member.Outcome() == RunOutcome::Complete;
        cutShort = cutShort || member.EndedBySignal() || endedBeforeRuns;
    }
    WriteOut(false, FormatGangSummary(members));
    if (showScreen) {
        ShowGangScreen(members);
    }
    GangEnd end;
    end.status = allComplete ? 0 : 1;
    // An interrupt that cut a board's session short ends the gang as it
    // ended that run; runs that ended between boards leave the tally's status.
    if (InterruptRequest() != 0 && cutShort) {
        end.interrupt = InterruptRequest();
    }
    TellEnd(end);
    return end;
}

void Gang::TellEnd(const GangEnd& gangEnd) {
    if (events == nullptr) {
        return;
    }
    EventStream::Json ports = EventStream::Json::object();
    for (const GangMember& member : members) {
        const char* outcome = OutcomeName(member.Outcome().value_or(RunOutcome::Failed));
        ports[member.Port()] = outcome;
        if (!member.ToldEnd()) {
            // A run that never started (its image refused) ended as the
            // gang decided; any other ended without a word: failed.
            EventStream::Json end;
            end["event"] = "end";
            const bool unstarted = member.Child() < 0;
            end["outcome"] = unstarted ? outcome : "failed";
            // An unstarted run's status is its outcome's; one the operator
            // ended, or one that ended without a word, has none.
            const std::optional<RunOutcome> known = member.Outcome();
            end["exit_status"] = unstarted && known && *known != RunOutcome::Interrupted
                                     ? EventStream::Json(BoardExitStatus(*known))
                                     : EventStream::Json(nullptr);
            end["signal"] = nullptr;
            end["seconds"] = EventSeconds(member.Seconds());
            events->Tell(end, member.Port());
        }
    }
    EventStream::Json end;
    end["event"] = "end";
    const bool sound = gangEnd.status == 0 && gangEnd.interrupt == 0;
    end["outcome"] = !sound ? "failed" : checkedOnly ? "image-ok" : "complete";
    end["exit_status"] =
        gangEnd.interrupt != 0 ? EventStream::Json(nullptr) : EventStream::Json(gangEnd.status);
    end["signal"] = gangEnd.interrupt != 0 ? EventStream::Json(InterruptName(gangEnd.interrupt))
                                           : EventStream::Json(nullptr);
    // The stream counts from the gang's start too: its time is the gang's
    // seconds, read once.
    end["seconds"] = events->Now();
    end["t"] = end["seconds"];
    end["ports"] = ports;
    events->Tell(end, std::string());
}

GangMember* Gang::MemberOf(int child) {
    for (GangMember& member : members) {
        if (member.Child() == child) {
            return &member;
        }
    }
    return nullptr;
}

void Gang::TakeEvents(GangDisplay& display) {
    for (const ChildEvent& event : processes.Wait(kWaitMs)) {
        GangMember* member = MemberOf(event.child);
        if (member == nullptr) {
            continue;
        }
        std::vector<GangItem> items;
        switch (event.kind) {
            case ChildEvent::Kind::Output:
                items = member->TakeOutput(event.bytes);
                break;
            case ChildEvent::Kind::ErrorOutput:
                items = member->TakeErrorOutput(event.bytes);
                break;
            case ChildEvent::Kind::Channel:
                items = member->TakeEvents(event.bytes);
                break;
            case ChildEvent::Kind::Ended:
                items = member->End(event.status, event.interrupted, interruptSent, Since(start));
                break;
        }
        const size_t index = static_cast<size_t>(member - members.data());
        for (const GangItem& item : items) {
            display.Show(index, item, Since(start));
        }
    }
    display.Refresh(Since(start));
    FlushShown();
}

void Gang::PassOnInterrupt() {
    const int interrupt = InterruptRequest();
    if (interrupt != 0 && !interruptSent) {
        interruptSent = true;
        interruptedAt = Clock::now();
        passedOn.assign(members.size(), false);
    }
    // A run that has not begun yet gets the interrupt once it has: until then
    // it would end it before the run could record it.
    for (size_t i = 0; interruptSent && i < members.size(); ++i) {
        const GangMember& member = members[i];
        if (!passedOn[i] && member.Child() >= 0 && member.Begun() && !member.Outcome()) {
            passedOn[i] = true;
            processes.Interrupt(member.Child(), interrupt);
        }
    }
    if (interruptSent && !killed && Clock::now() - interruptedAt >= grace) {
        killed = true;
        for (GangMember& member : members) {
            if (member.Child() >= 0 && !member.Outcome()) {
                processes.Kill(member.Child());
                member.KilledAfter(std::chrono::duration<double>(grace).count());
            }
        }
    }
}

// The gang's stream, when --events asks for one.
std::unique_ptr<EventStream> GangEvents(const Settings& settings, Clock::time_point start) {
    if (settings.eventsFile == nullptr) {
        return nullptr;
    }
    auto events = std::make_unique<EventStream>(start);
    if (settings.eventsToOutput) {
        events->ToStandardOutput();
    } else {
        events->ToFile(settings.eventsFile);
    }
    return events;
}

// Why no run starts: each port then gets the record its run would have
// written, and the events say the same of each port.
struct Unstarted {
    RunOutcome outcome = RunOutcome::ImageRefused;
    std::optional<int> exitStatus;  // nothing: ended by interrupt
    int interrupt = 0;
    std::optional<ImageRefusal> refusal;
    std::string message;  // what was said, when no image was refused
};

// The end of port's run that never started, with its record; the result
// command runs for it as for any board.
BoardEnd UnstartedRun(const Unstarted& why, const Settings& settings, const std::string& port,
                      const std::string& label) {
    Settings portSettings = settings;
    portSettings.portName = port.c_str();
    const std::string runId =
        settings.runId != nullptr ? GangRunId(settings.runId, port) : GeneratedRunId();
    RunReport record(portSettings);
    record.SetRunId(runId);
    const BoardBegin begin{std::nullopt,
                           label.empty() ? std::nullopt : std::optional<std::string>(label)};
    record.OnBoardBegin(begin);
    if (why.refusal) {
        record.OnImageRefused(*why.refusal);
    }
    if (settings.resultCommand != nullptr) {
        ResultCommand command(portSettings, runId);
        command.OnBoardBegin(begin);
        command.Run(why.outcome, why.exitStatus, record.RecordId(), record);
    }
    BoardEnd end;
    end.outcome = why.outcome;
    end.exitStatus = why.exitStatus;
    end.record = record.Make(why.outcome, why.exitStatus, why.message,
                             why.interrupt != 0 ? InterruptName(why.interrupt) : nullptr);
    return end;
}

void EndUnstartedRuns(Gang& gang, const Unstarted& why, const Settings& settings) {
    std::unique_ptr<AppendFile> file;
    if (settings.reportFile != nullptr) {
        file = std::make_unique<AppendFile>();
        if (!file->Open(settings.reportFile)) {
            FatalError(messages::kCannotOpenReportFormat, settings.reportFile);
        }
    }
    for (size_t i = 0; i < settings.gangPorts.size(); ++i) {
        const std::string& port = settings.gangPorts[i];
        const std::string label = i < gang.labels.size() ? gang.labels[i] : std::string();
        BoardEnd end = UnstartedRun(why, settings, port, label);
        if (file != nullptr && !file->AppendRecord(end.record + "\n")) {
            WriteOut(true, FormatText(messages::kCannotWriteReportFormat, settings.reportFile));
        }
        if (gang.events != nullptr) {
            EventStream::Json boardEnd;
            boardEnd["event"] = "board-end";
            boardEnd["board_number"] = nullptr;
            boardEnd["outcome"] = OutcomeName(end.outcome);
            boardEnd["exit_status"] =
                why.exitStatus ? EventStream::Json(*why.exitStatus) : EventStream::Json(nullptr);
            boardEnd["record"] = EventStream::Json::parse(end.record);
            gang.events->Tell(boardEnd, port);
        }
        gang.members.emplace_back(port, -1);
        gang.members.back().SetLabel(label);
        gang.members.back().EndUnstarted(why.outcome);
    }
    // The records on disk go to the factory's database (--report-db), unless
    // the operator's request ended the gang (as a run's own forward).
    const std::unique_ptr<RecordForwarder> forwarder =
        MakeRecordForwarder(settings.reportFile, settings.reportDb);
    if (forwarder != nullptr && why.interrupt == 0) {
        WriteOut(true, forwarder->Forward());
    }
}

// Asks for every port's label, in the order of the ports, before any run
// starts. Returns the operator's request that ended the asking (0: none);
// the labels given are kept.
int AskLabels(Gang& gang, const Settings& settings) {
    BoardLabels labels(settings);
    for (const std::string& port : settings.gangPorts) {
        const LabelAnswer answer = labels.ForPort(port);
        if (!answer.label) {
            return answer.interrupt;
        }
        gang.labels.push_back(*answer.label);
    }
    return 0;
}

// A port's label never came (the input ended, or interrupt): no run starts,
// and every port gets its record, no-label or interrupted.
GangEnd EndWithoutLabels(Gang& gang, const Settings& settings, int interrupt) {
    Unstarted why;
    if (interrupt != 0) {
        why.outcome = RunOutcome::Interrupted;
        why.interrupt = interrupt;
        gang.endedBeforeRuns = true;
    } else {
        why.outcome = RunOutcome::NoLabel;
        why.exitStatus = 1;
        why.message = messages::kNoLabel;
        WriteOut(true, messages::kNoLabel);
    }
    EndUnstartedRuns(gang, why, settings);
    return gang.Finish();
}

}  // namespace

GangEnd RunGang(const GangStart& start, const Settings& settings) {
    const std::vector<std::string>& ports = settings.gangPorts;
    Gang gang;
    gang.events = GangEvents(settings, gang.start);
    gang.showScreen = settings.operatorScreen && OutputTakesCursorMovements();
    if (start.imageOk) {
        Unstarted why;
        why.outcome = RunOutcome::ImageOk;
        why.exitStatus = 0;
        gang.checkedOnly = true;
        EndUnstartedRuns(gang, why, settings);
        const GangEnd end;
        gang.TellEnd(end);
        return end;
    }
    if (start.refusal) {
        Unstarted why;
        why.exitStatus = start.refusedStatus;
        why.refusal = start.refusal;
        EndUnstartedRuns(gang, why, settings);
        GangEnd end = gang.Finish();
        end.status = start.refusedStatus;
        return end;
    }
    InstallInterruptHandlers();
    if (LabelsAsked(settings)) {
        const int interrupt = AskLabels(gang, settings);
        if (gang.labels.size() < ports.size()) {
            return EndWithoutLabels(gang, settings, interrupt);
        }
    }
    // Each run starts its own board when a fixture does; the gang says so
    // once, where it would show the prompt.
    const Fixture fixture(settings, nullptr);
    WriteOut(false, fixture.StartsBoard() ? fixture.InsteadLine() : messages::kPowerCyclePrompt);
    gang.grace += std::chrono::milliseconds(fixture.EndSequenceMs());
    gang.StartRuns(start.argumentCount, start.arguments, ports);
    // A block taller than the screen cannot be redrawn in place.
    const OutputSize size = OutputTerminalSize();
    const bool inPlace = OutputTakesCursorMovements() && static_cast<int>(ports.size()) < size.rows;
    GangDisplay display(gang.members, GangPortNames(ports), inPlace, size.columns, WriteOutOfLook);
    while (gang.processes.Running() > 0) {
        const Clock::time_point lookedAt = Clock::now();
        gang.TakeEvents(display);
        gang.PassOnInterrupt();
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lookedAt);
        if (spent.count() < kLookMs && gang.processes.Running() > 0) {
            WaitForInterrupt(kLookMs - static_cast<uint32_t>(spent.count()));
        }
    }
    display.Close();
    return gang.Finish();
}
