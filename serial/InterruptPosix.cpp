#include <signal.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <csignal>

#include "serial/Interrupt.h"

namespace {

// SIGPIPE: standard output (or error) was closed by its reader. At its
// default it would end the program on the spot, record unwritten; it ends
// the run as an interrupt does instead, and then the program as SIGPIPE
// would have.
constexpr int kRequestSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

volatile std::sig_atomic_t requested = 0;
bool installed = false;

// Only async-signal-safe calls here.
extern "C" void NoteSignal(int signalNumber) {
    if (requested != 0 && signalNumber == SIGPIPE) {
        // Every later write to the closed pipe raises it again: the first
        // one is being handled.
        return;
    }
    if (requested != 0) {
        // Asked again while the first request is being handled: the operator
        // means it, end now.
        signal(signalNumber, SIG_DFL);
        raise(signalNumber);
        return;
    }
    requested = signalNumber;
}

}  // namespace

void InstallInterruptHandlers() {
    if (installed) {
        return;
    }
    installed = true;
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    // Other calls go on; the port's waits (select) return all the same.
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kRequestSignals) {
        struct sigaction previous {};
        sigaction(signalNumber, nullptr, &previous);
        if (previous.sa_handler != SIG_IGN) {
            sigaction(signalNumber, &action, nullptr);
        }
    }
}

void InterruptWhenParentEnds() {
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGHUP);
    // A parent that ended before the call above: the run has been handed to
    // init already.
    if (getppid() == 1) {
        NoteSignal(SIGHUP);
    }
#endif
}

bool InterruptHandlersInstalled() {
    return installed;
}

int InterruptRequest() {
    return requested;
}

void NoteInterrupt(int request) {
    requested = request;
}

void ClearInterrupt() {
    requested = 0;
}

const char* InterruptName(int request) {
    switch (request) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        case SIGPIPE:
            return "SIGPIPE";
        default:
            return "signal";
    }
}

void EndAsInterrupted(int request) {
    signal(request, SIG_DFL);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, request);
    sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
    raise(request);
    // Not reached unless the signal does not end a program.
    _exit(128 + request);
}
