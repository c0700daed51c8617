#pragma once
// ChildProcesses: the program's own child processes, for a gang of ports.
// One implementation per platform (ChildProcessesPosix.cpp,
// ChildProcessesWin32.cpp); the build picks it.
//
// A child runs with standard input empty (/dev/null, NUL) and its standard
// output and standard error each captured through a pipe of its own, which
// no other child inherits. A child started with a channel gets one pipe more,
// for what it tells its parent apart from its output (process/ParentChannel.h
// writes it). Wait gathers what every child has written, without blocking on
// any one of them, and notices each child's end.
//
// Interrupts are noted as in every run (serial/Interrupt.h); Interrupt
// passes one on to a child, which then ends as a run ends on that interrupt. POSIX: the child gets
// the same signal; it runs in a process group of its own, so that what the terminal sends the
// parent's group (Ctrl-C, the hang-up) does not reach it besides. Windows: the child shares the
// console, so the console's event has reached it already; only when there is no console does
// Interrupt end it itself, with the exit code of Ctrl-C. Kill ends a child outright. A signal the
// program was started with ignored stays ignored.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What a child did, as Wait reports it.
struct ChildEvent {
    enum class Kind { Output, ErrorOutput, Channel, Ended };
    int child = 0;  // the index Start returned
    Kind kind = Kind::Output;
    std::string bytes;  // Output, ErrorOutput, Channel: what arrived, in order
    // Ended: the exit status, or -1 for an end by a signal (POSIX), whose
    // number is then in signal; interrupted when the end was that of an
    // interrupt (SIGINT, SIGTERM, SIGHUP; on Windows the exit code of Ctrl-C).
    int status = 0;
    int signal = 0;
    bool interrupted = false;
};

class ChildProcesses {
  public:
    ChildProcesses();
    // Children still running are ended outright (as by Kill) and waited for.
    ~ChildProcesses();
    ChildProcesses(const ChildProcesses&) = delete;
    ChildProcesses& operator=(const ChildProcesses&) = delete;

    // Starts program with arguments (arguments[0] is the name it is given as
    // its own). With channel, the child also gets the write end of a pipe of
    // its own, whose number (a descriptor on POSIX, a handle on Windows) is
    // added to arguments as the last one. Returns the child's index (0, 1, ...
    // in order of starting), or -1 when it cannot be started.
    int Start(const std::string& program, const std::vector<std::string>& arguments,
              bool channel = false);

    // Waits up to waitMs for output or an end; returns what happened since
    // the last call (empty when nothing did). A child's Ended comes after all
    // of its output and channel. POSIX: a child's channel is read before its
    // output, so that what it wrote to its channel before more output comes
    // first. Windows: each pipe is read by a thread of its own, and what came
    // on different pipes keeps no order between them.
    std::vector<ChildEvent> Wait(uint32_t waitMs);

    // Passes the interrupt (a value of InterruptRequest) on to a running
    // child; nothing for one that has ended.
    void Interrupt(int child, int interrupt);
    // Ends a child that did not end on its interrupt.
    void Kill(int child);

    // Children started and not yet reported Ended.
    int Running() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// The path of the running program, to start it again; argv0 serves where the
// system cannot tell.
std::string RunningProgramPath(const char* argv0);
