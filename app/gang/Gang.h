#pragma once
// A gang of ports (--gang PORT,PORT,...): the same download to every port at
// once. The program starts itself once per port, each run with the gang's
// command line and one -P (see GangMemberArguments), so that each port has
// a process of its own: a port that fails, hangs up or is pulled out cannot
// disturb the others. The power-cycle prompt is shown once, for all.
//
// Each run's output is shown as GangDisplay describes. Ctrl-C, SIGTERM or
// SIGHUP end every run: each is passed the one interrupt and ends in order
// (its record written, its port given back). Only a run still running
// kInterruptGraceMs after it (plus the waits of --reset-end, which runs
// after an interrupt too) is taken to be stuck and ended outright; the
// summary says so. Then, as at every end, the summary table
// (FormatGangSummary) follows on standard output.
//
// With --events, the gang's own stream holds every event of every port's run
// (app/events/EventStream.h), each with "port" and with "t" counted from the
// gang's start, then, for a run that ended without telling its end, an
// "end" with its port and outcome "failed", and last the gang's own "end",
// with "ports": each port's outcome.
//
// A gang whose image was refused starts no run: each port gets the record
// its run would have written, with the refusal, and the summary follows. So
// does a gang whose image --check-only found sound, each port's record and
// events then those of its own check (image-ok), without a summary.
//
// Exit status: 0 when every port's download was complete, else 1. An
// interrupt (Ctrl-C, SIGTERM, SIGHUP, a closed standard output) that cut a
// port's board short ends the gang as that signal would (as a single run);
// one that found every run between boards leaves the status of their
// tallies.

#include <optional>

#include "app/RunObserver.h"
#include "app/Settings.h"

// Longer than anything a run does to end on its own: a read finishing its
// time-out (Windows, up to 3 s), the port's drain, its record and the
// number ledger's closing line.
inline constexpr int kInterruptGraceMs = 10000;

struct GangStart {
    // The gang's command line, as each run's is made of it.
    int argumentCount = 0;
    char** arguments = nullptr;
    // The image was refused (with this exit status): no run starts.
    std::optional<ImageRefusal> refusal;
    int refusedStatus = 1;
    // --check-only found the image sound: no run starts.
    bool imageOk = false;
};

struct GangEnd {
    int status = 0;
    int interrupt = 0;  // the interrupt to end as (serial/Interrupt.h); 0: status
};

// settings: as parsed from the arguments, with settings.gang set.
GangEnd RunGang(const GangStart& start, const Settings& settings);
