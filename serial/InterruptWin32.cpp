#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "serial/Interrupt.h"

namespace {

// How a process ended by Ctrl-C or Ctrl-Break ends on Windows.
constexpr UINT kControlCExitCode = 0xC000013Au;
// The system ends the program once the handler of a closing console returns
// (and after a few seconds in any case): the handler waits this long for the
// program to give its port back and write its record.
constexpr DWORD kCloseGraceMs = 4000;

// The control event plus one, so that 0 means none.
volatile LONG requested = 0;
bool installed = false;
// Set by every request, so that a wait for one sleeps on it. Made by the
// first wait (or installation), never closed.
HANDLE wakeEvent = nullptr;

HANDLE WakeEvent() {
    if (wakeEvent == nullptr) {
        wakeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    return wakeEvent;
}

bool IsInterruptKey(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// Runs on a thread of its own.
BOOL WINAPI NoteControlEvent(DWORD event) {
    const LONG code = static_cast<LONG>(event) + 1;
    if (InterlockedCompareExchange(&requested, code, 0) != 0 && IsInterruptKey(event)) {
        ExitProcess(kControlCExitCode);
    }
    if (wakeEvent != nullptr) {
        SetEvent(wakeEvent);
    }
    if (IsInterruptKey(event)) {
        return TRUE;
    }
    Sleep(kCloseGraceMs);
    return FALSE;
}

}  // namespace

void InstallInterruptHandlers() {
    if (installed) {
        return;
    }
    WakeEvent();
    installed = SetConsoleCtrlHandler(NoteControlEvent, TRUE) != 0;
}

bool InterruptHandlersInstalled() {
    return installed;
}

int InterruptRequest() {
    return static_cast<int>(InterlockedCompareExchange(&requested, 0, 0));
}

void NoteInterrupt(int request) {
    InterlockedExchange(&requested, static_cast<LONG>(request));
    if (wakeEvent != nullptr) {
        SetEvent(wakeEvent);
    }
}

bool WaitForInterrupt(uint32_t waitMs) {
    const HANDLE event = WakeEvent();
    if (InterruptRequest() == 0) {
        if (event != nullptr) {
            WaitForSingleObject(event, waitMs);
        } else {
            Sleep(waitMs);
        }
    }
    return InterruptRequest() != 0;
}

void ClearInterrupt() {
    InterlockedExchange(&requested, 0);
    if (wakeEvent != nullptr) {
        ResetEvent(wakeEvent);
    }
}

const char* InterruptName(int request) {
    switch (request - 1) {
        case CTRL_C_EVENT:
            return "CTRL_C";
        case CTRL_BREAK_EVENT:
            return "CTRL_BREAK";
        default:
            return "CTRL_CLOSE";
    }
}

void EndAsInterrupted(int /*request*/) {
    ExitProcess(kControlCExitCode);
}
