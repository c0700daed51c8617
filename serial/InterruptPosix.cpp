#include <fcntl.h>
#include <signal.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>

#include "serial/Interrupt.h"

namespace {

constexpr int kRequestSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t requested = 0;
bool installed = false;
// A pipe that a request writes a byte into, so that a wait for it can sleep
// on its other end (no request slips in between a look at the flag and the
// sleep). -1 until the first wait makes it.
int wakeRead = -1;
volatile std::sig_atomic_t wakeWrite = -1;

void Wake() {
    const int fd = wakeWrite;
    if (fd >= 0) {
        const char byte = 1;
        const ssize_t ignored = write(fd, &byte, 1);
        (void)ignored;
    }
}

bool MakeWakePipe() {
    if (wakeRead >= 0) {
        return true;
    }
    int fds[2];
    if (pipe(fds) != 0) {
        return false;
    }
    for (const int fd : fds) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    wakeRead = fds[0];
    wakeWrite = fds[1];
    return true;
}

// Only async-signal-safe calls here.
extern "C" void NoteSignal(int signalNumber) {
    if (requested != 0) {
        // Asked again while the first request is being handled: the operator
        // means it, end now.
        signal(signalNumber, SIG_DFL);
        raise(signalNumber);
        return;
    }
    requested = signalNumber;
    Wake();
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

bool InterruptHandlersInstalled() {
    return installed;
}

int InterruptRequest() {
    return requested;
}

void NoteInterrupt(int request) {
    requested = request;
    Wake();
}

bool WaitForInterrupt(uint32_t waitMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    const bool piped = MakeWakePipe();
    while (requested == 0) {
        const auto left =
            std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        timeval limit{};
        limit.tv_sec = static_cast<decltype(limit.tv_sec)>(left / 1000000);
        limit.tv_usec = static_cast<decltype(limit.tv_usec)>(left % 1000000);
        fd_set readable;
        FD_ZERO(&readable);
        if (piped) {
            FD_SET(wakeRead, &readable);
        }
        if (select(piped ? wakeRead + 1 : 0, &readable, nullptr, nullptr, &limit) > 0) {
            char drain[16];
            while (read(wakeRead, drain, sizeof drain) > 0) {
            }
        }
    }
    return requested != 0;
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
