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
    std::vector<int> children;  // index in ChildProcesses, -1 when not started
    std::vector<double> seconds;
    ChildProcesses processes;
    Clock::time_point start = Clock::now();
    bool interruptSent = false;
    bool killed = false;
    Clock::time_point interruptedAt;

    // One run per port; one that cannot be started is reported and ends at
    // once (failed).
    void StartRuns(int argumentCount, char** arguments, const std::vector<std::string>& ports,
                   const char* dataFile);
    void TakeEvents(GangDisplay& display);
    void PassOnInterrupt();
    // The summary; returns the exit status.
    int Finish();
    size_t MemberOf(int child) const;
};

void Gang::StartRuns(int argumentCount, char** arguments, const std::vector<std::string>& ports,
                     const char* dataFile) {
    const std::string program = RunningProgramPath(arguments[0]);
    for (const std::string& port : ports) {
        members.emplace_back(port, dataFile);
        children.push_back(
            processes.Start(program, GangMemberArguments(argumentCount, arguments, program, port)));
        seconds.push_back(0);
        if (children.back() < 0) {
            char text[512];
            std::snprintf(text, sizeof text, messages::kGangCannotStartFormat, port.c_str());
            WriteOut(true, text);
            members.back().End(1, false, false);
        }
    }
}

int Gang::Finish() {
    bool allComplete = true;
    for (GangMember& member : members) {
        if (InterruptRequest() != 0) {
            member.GangInterrupted();
        }
        allComplete = allComplete && member.Outcome() == GangOutcome::Complete;
    }
    WriteOut(false, FormatGangSummary(members, seconds));
    return allComplete ? 0 : 1;
}

size_t Gang::MemberOf(int child) const {
    for (size_t i = 0; i < children.size(); ++i) {
        if (children[i] == child) {
            return i;
        }
    }
    return 0;
}

void Gang::TakeEvents(GangDisplay& display) {
    for (const ChildEvent& event : processes.Wait(kWaitMs)) {
        const size_t i = MemberOf(event.child);
        std::vector<GangItem> items;
        if (event.kind == ChildEvent::Kind::Output) {
            items = members[i].TakeOutput(event.bytes);
        } else if (event.kind == ChildEvent::Kind::ErrorOutput) {
            items = members[i].TakeErrorOutput(event.bytes);
        } else {
            items = members[i].End(event.status, event.interrupted, interruptSent);
            seconds[i] = Since(start);
        }
        for (const GangItem& item : items) {
            display.Show(i, item, Since(start));
        }
    }
    display.Refresh(Since(start));
}

void Gang::PassOnInterrupt() {
    const int interrupt = InterruptRequest();
    if (interrupt != 0 && !interruptSent) {
        interruptSent = true;
        interruptedAt = Clock::now();
        for (int child : children) {
            if (child >= 0) {
                processes.Interrupt(child, interrupt);
            }
        }
    }
    if (interruptSent && !killed &&
        Clock::now() - interruptedAt >= std::chrono::milliseconds(kInterruptGraceMs)) {
        killed = true;
        for (int child : children) {
            if (child >= 0) {
                processes.Kill(child);
            }
        }
    }
}

}  // namespace

int RunGang(int argumentCount, char** arguments, const Settings& settings) {
    std::vector<std::string> ports;
    std::string problem;
    SplitGangPorts(settings.gang, ports, problem);  // accepted by ParseCommandLine
    InstallInterruptHandlers();
    // Each run starts its own board when a fixture does; the gang says so
    // once, where it would show the prompt.
    const Fixture fixture(settings, nullptr);
    WriteOut(false, fixture.StartsBoard() ? fixture.InsteadLine() : messages::kPowerCyclePrompt);
    Gang gang;
    gang.StartRuns(argumentCount, arguments, ports, settings.dataFile);
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
