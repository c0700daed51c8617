// The program's child processes, with a real child (ProcessChild.cpp, next
// to this test's program): what it writes arrives apart by stream and in
// order, its end comes after all of it with its status, its channel carries
// what it tells, and a child that waits ends on an interrupt or a kill.

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "process/ChildProcesses.h"

namespace {

// The child's program, beside this test's own.
std::string ChildProgram() {
    const std::string self = RunningProgramPath(nullptr);
    const size_t folder = self.find_last_of("/\\");
    return self.substr(0, folder == std::string::npos ? 0 : folder + 1) + PROCESS_CHILD_NAME;
}

// What one child did until its end, by kind.
struct Seen {
    std::string out;
    std::string err;
    std::string channel;
    bool ended = false;
    ChildEvent end;
};

// Waits (a guard against hanging only) for every child to end, gathering
// what each did; nothing may come after a child's end.
std::vector<Seen> WaitForAll(ChildProcesses& processes, size_t children) {
    std::vector<Seen> seen(children);
    for (int rounds = 0; processes.Running() > 0 && rounds < 600; ++rounds) {
        for (const ChildEvent& event : processes.Wait(100)) {
            Seen& child = seen.at(static_cast<size_t>(event.child));
            EXPECT_FALSE(child.ended) << "an event after the end";
            switch (event.kind) {
                case ChildEvent::Kind::Output:
                    child.out += event.bytes;
                    break;
                case ChildEvent::Kind::ErrorOutput:
                    child.err += event.bytes;
                    break;
                case ChildEvent::Kind::Channel:
                    child.channel += event.bytes;
                    break;
                case ChildEvent::Kind::Ended:
                    child.ended = true;
                    child.end = event;
                    break;
            }
        }
    }
    return seen;
}

// Waits until each of the first children has said it waits (the Windows C
// runtime ends the line with CR LF).
void WaitForWaiting(ChildProcesses& processes, size_t children) {
    std::vector<std::string> out(children);
    const auto allWaiting = [&out] {
        for (const std::string& said : out) {
            if (said.find("waiting") == std::string::npos) {
                return false;
            }
        }
        return true;
    };
    for (int rounds = 0; !allWaiting() && rounds < 600; ++rounds) {
        for (const ChildEvent& event : processes.Wait(100)) {
            if (event.kind == ChildEvent::Kind::Output) {
                out.at(static_cast<size_t>(event.child)) += event.bytes;
            }
        }
    }
    ASSERT_TRUE(allWaiting()) << out.front() << "|" << out.back();
}

TEST(ChildProcesses, EachChildsOutputErrorAndStatusArriveApartAndTheEndLast) {
    ChildProcesses processes;
    const std::string program = ChildProgram();
    EXPECT_EQ(processes.Start(program, {"child", "out", "first out", "first err", "0"}), 0);
    EXPECT_EQ(processes.Start(program, {"child", "out", "second \"quoted\" out", "", "7"}), 1);
    EXPECT_EQ(processes.Running(), 2);
    const std::vector<Seen> seen = WaitForAll(processes, 2);
    EXPECT_EQ(processes.Running(), 0);
    ASSERT_TRUE(seen[0].ended && seen[1].ended);
    EXPECT_EQ(seen[0].out, "first out");
    EXPECT_EQ(seen[0].err, "first err");
    EXPECT_EQ(seen[0].end.status, 0);
    EXPECT_EQ(seen[1].out, "second \"quoted\" out");
    EXPECT_EQ(seen[1].err, "");
    EXPECT_EQ(seen[1].end.status, 7);
    EXPECT_FALSE(seen[1].end.interrupted);
    EXPECT_EQ(seen[0].channel + seen[1].channel, "") << "no channel unless asked for";
}

TEST(ChildProcesses, ChannelCarriesWhatTheChildTellsApartFromItsOutput) {
    ChildProcesses processes;
    EXPECT_EQ(processes.Start(ChildProgram(), {"child", "channel", "{\"event\":1}\n"}, true), 0);
    const std::vector<Seen> seen = WaitForAll(processes, 1);
    ASSERT_TRUE(seen[0].ended);
    EXPECT_EQ(seen[0].channel, "{\"event\":1}\n");
    EXPECT_EQ(seen[0].out, "");
    EXPECT_EQ(seen[0].end.status, 0) << "the write reached the parent";
}

TEST(ChildProcesses, WaitingChildEndsOnAnInterruptOrAKill) {
    ChildProcesses processes;
    const std::string program = ChildProgram();
    ASSERT_EQ(processes.Start(program, {"child", "wait"}), 0);
    ASSERT_EQ(processes.Start(program, {"child", "wait"}), 1);
    WaitForWaiting(processes, 2);
    // SIGTERM on POSIX; without a console (as here) Windows ends it with the
    // exit code of Ctrl-C.
    processes.Interrupt(0, SIGTERM);
    processes.Kill(1);
    const std::vector<Seen> seen = WaitForAll(processes, 2);
    ASSERT_TRUE(seen[0].ended && seen[1].ended);
    EXPECT_TRUE(seen[0].end.interrupted);
    EXPECT_NE(seen[1].end.status, 0);
    // Interrupt and Kill leave a child that has ended alone.
    processes.Interrupt(0, SIGTERM);
    processes.Kill(1);
}

TEST(ChildProcesses, ProgramThatCannotBeStartedGivesNoChild) {
    ChildProcesses processes;
    EXPECT_EQ(processes.Start(ChildProgram() + "-missing", {"child"}), -1);
    EXPECT_EQ(processes.Running(), 0);
    EXPECT_TRUE(processes.Wait(0).empty());
}

}  // namespace
