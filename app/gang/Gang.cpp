#include "app/gang/Gang.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/fixture/Fixture.h"
#include "app/gang/GangDisplay.h"
#include "app/gang/GangMember.h"
#include "app/gang/GangMessages.h"
#include "app/gang/GangPorts.h"
#include "errors/FatalError.h"
#include "process/ChildProcesses.h"
#include "protocol/ProtocolMessages.h"
#include "serial/ConsoleOutput.h"
#include "serial/Interrupt.h"

namespace {

// How long one look at the runs may wait: the longest an interrupt waits to
// be passed on.
constexpr uint32_t kWaitMs = 100;

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void WriteOut(bool toError, const std::string& text) {
    if (toError) {
        std::fflush(stdout);
    }
    std::FILE* stream = toError ? stderr : stdout;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

struct Gang {
    std::vector<GangMember> members;
    ChildProcesses processes;
    Clock::time_point start = Clock::now();
    // How long a run may take to end once interrupted.
    std::chrono::milliseconds grace{kInterruptGraceMs};
    bool interruptSent = false;
    bool killed = false;
    Clock::time_point interruptedAt;

    // One run per port, each with a channel for its events; one that cannot
    // be started is reported and ends at once (failed).
    void StartRuns(int argumentCount, char** arguments, const std::vector<std::string>& ports);
    void TakeEvents(GangDisplay& display);
    void PassOnInterrupt();
    // The summary; returns the exit status.
    int Finish();
    // The member whose run is child; nullptr for a child the gang did not start.
    GangMember* MemberOf(int child);
};

void Gang::StartRuns(int argumentCount, char** arguments, const std::vector<std::string>& ports) {
    const std::string program = RunningProgramPath(arguments[0]);
    for (const std::string& port : ports) {
        const int child = processes.Start(
            program, GangMemberArguments(argumentCount, arguments, program, port), true);
        members.emplace_back(port, child);
        if (child < 0) {
            WriteOut(true, FormatText(messages::kGangCannotStartFormat, port.c_str()));
            members.back().End(1, false, false, Since(start));
        }
    }
}

int Gang::Finish() {
    bool allComplete = true;
    for (GangMember& member : members) {
        if (InterruptRequest() != 0) {
            member.GangInterrupted();
        }
        allComplete = allComplete && member.Outcome() == RunOutcome::Complete;
    }
    WriteOut(false, FormatGangSummary(members));
    return allComplete ? 0 : 1;
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
        for (const GangMember& member : members) {
            if (member.Child() >= 0) {
                processes.Interrupt(member.Child(), interrupt);
            }
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

}  // namespace

int RunGang(int argumentCount, char** arguments, const Settings& settings) {
    const std::vector<std::string>& ports = settings.gangPorts;
    InstallInterruptHandlers();
    // Each run starts its own board when a fixture does; the gang says so
    // once, where it would show the prompt.
    const Fixture fixture(settings, nullptr);
    WriteOut(false, fixture.StartsBoard() ? fixture.InsteadLine() : messages::kPowerCyclePrompt);
    Gang gang;
    gang.grace += std::chrono::milliseconds(fixture.EndSequenceMs());
    gang.StartRuns(argumentCount, arguments, ports);
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
