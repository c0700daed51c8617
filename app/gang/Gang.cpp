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
#include "app/gang/GangDisplay.h"
#include "app/gang/GangMember.h"
#include "app/gang/GangMessages.h"
#include "app/gang/GangPorts.h"
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
        const int child = processes.Start(
            program, GangMemberArguments(argumentCount, arguments, program, port), true);
        GangMember::EventSink passOn;
        if (events != nullptr) {
            EventStream* stream = events.get();
            passOn = [stream, port, startedAt](const GangEvent& event) {
                stream->PassOn(event.told, port, startedAt);
            };
        }
        members.emplace_back(port, child, passOn);
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
        cutShort = cutShort || member.EndedBySignal();
    }
    WriteOut(false, FormatGangSummary(members));
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
            end["outcome"] = member.Child() < 0 ? outcome : "failed";
            end["exit_status"] = nullptr;
            end["signal"] = nullptr;
            end["seconds"] = member.Seconds();
            events->PassOn(end, member.Port(), 0);
        }
    }
    EventStream::Json end;
    end["event"] = "end";
    end["outcome"] = gangEnd.status == 0 && gangEnd.interrupt == 0 ? "complete" : "failed";
    end["exit_status"] =
        gangEnd.interrupt != 0 ? EventStream::Json(nullptr) : EventStream::Json(gangEnd.status);
    end["signal"] = gangEnd.interrupt != 0 ? EventStream::Json(InterruptName(gangEnd.interrupt))
                                           : EventStream::Json(nullptr);
    end["seconds"] = Since(start);
    end["ports"] = ports;
    events->PassOn(end, std::string(), 0);
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

// Each port gets the record its run would have written, had the image not
// been refused; the events say the same of each port.
void RefuseRuns(Gang& gang, const GangStart& start, const Settings& settings) {
    std::unique_ptr<AppendFile> file;
    if (settings.reportFile != nullptr) {
        file = std::make_unique<AppendFile>();
        if (!file->Open(settings.reportFile)) {
            FatalError(messages::kCannotOpenReportFormat, settings.reportFile);
        }
    }
    for (const std::string& port : settings.gangPorts) {
        Settings portSettings = settings;
        portSettings.portName = port.c_str();
        RunReport record(portSettings);
        record.SetRunId(settings.runId != nullptr ? GangRunId(settings.runId, port)
                                                  : GeneratedRunId());
        record.OnImageRefused(*start.refusal);
        BoardEnd end;
        end.outcome = RunOutcome::ImageRefused;
        end.exitStatus = start.refusedStatus;
        end.record = record.Make(end.outcome, end.exitStatus, "", nullptr);
        if (file != nullptr && !file->AppendRecord(end.record + "\n")) {
            WriteOut(true, FormatText(messages::kCannotWriteReportFormat, settings.reportFile));
        }
        if (gang.events != nullptr) {
            EventStream::Json boardEnd;
            boardEnd["event"] = "board-end";
            boardEnd["board_number"] = nullptr;
            boardEnd["outcome"] = OutcomeName(end.outcome);
            boardEnd["exit_status"] = start.refusedStatus;
            boardEnd["record"] = EventStream::Json::parse(end.record);
            gang.events->PassOn(boardEnd, port, 0);
        }
        gang.members.emplace_back(port, -1);
        gang.members.back().EndUnstarted(RunOutcome::ImageRefused);
    }
    // The records on disk go to the factory's database (--report-db).
    const std::unique_ptr<RecordForwarder> forwarder =
        MakeRecordForwarder(settings.reportFile, settings.reportDb);
    if (forwarder != nullptr) {
        WriteOut(true, forwarder->Forward());
    }
}

}  // namespace

GangEnd RunGang(const GangStart& start, const Settings& settings) {
    const std::vector<std::string>& ports = settings.gangPorts;
    Gang gang;
    gang.events = GangEvents(settings, gang.start);
    if (start.refusal) {
        RefuseRuns(gang, start, settings);
        GangEnd end = gang.Finish();
        end.status = start.refusedStatus;
        return end;
    }
    InstallInterruptHandlers();
    // Each run starts its own board when a fixture does; the gang says so
    // once, where it would show the prompt.
    const Fixture fixture(settings, nullptr);
    WriteOut(false, fixture.StartsBoard() ? fixture.InsteadLine() : messages::kPowerCyclePrompt);
    gang.grace += std::chrono::milliseconds(fixture.EndSequenceMs());
    gang.StartRuns(start.argumentCount, start.arguments, ports);
    // A block taller than the screen cannot be redrawn in place.
    const OutputSize size = OutputTerminalSize();
    const bool inPlace = OutputTakesCursorMovements() && static_cast<int>(ports.size()) < size.rows;
    GangDisplay display(gang.members, GangPortNames(ports), inPlace, size.columns, WriteOut);
    while (gang.processes.Running() > 0) {
        gang.TakeEvents(display);
        gang.PassOnInterrupt();
    }
    display.Close();
    return gang.Finish();
}
