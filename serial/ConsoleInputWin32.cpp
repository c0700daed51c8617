// The keyboard of console mode on Windows: console input records when
// standard input is a console, the bytes of a pipe or file otherwise.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>

#include "serial/ConsoleInput.h"
#include "serial/Interrupt.h"

namespace {

constexpr DWORD kReadChunkBytes = 64;
constexpr DWORD kPipePollMs = 5;
// How a process ended by Ctrl-C or Ctrl-Break ends on Windows.
constexpr UINT kControlCExitCode = 0xC000013Au;

// The console as it was found. Kept at file level because the control
// handler and the exit path restore it without an object at hand.
HANDLE inputHandle = INVALID_HANDLE_VALUE;
DWORD foundMode = 0;
volatile LONG modeChanged = 0;
bool exitHookRegistered = false;

void RestoreConsoleMode() {
    if (InterlockedExchange(&modeChanged, 0) != 0) {
        SetConsoleMode(inputHandle, foundMode);
    }
}

// Runs on a thread of its own. Ctrl-C and Ctrl-Break end the program as the
// system does, after the console has been given back; so does closing the
// console, logging off or shutting down, where the system ends the program
// once the handlers have run. When the run handles these events itself
// (serial/Interrupt.h), they go on to its handler, installed before this
// one, which ends the run in order.
BOOL WINAPI RestoreOnControlEvent(DWORD event) {
    RestoreConsoleMode();
    if ((event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) && !InterruptHandlersInstalled()) {
        ExitProcess(kControlCExitCode);
    }
    return FALSE;
}

void RestoreAtExit() {
    RestoreConsoleMode();
}

bool IsPipe(HANDLE input) {
    return GetFileType(input) == FILE_TYPE_PIPE;
}

// Bytes waiting in a pipe: 0 when none, -1 when the writer has gone.
long PipeBytesWaiting(HANDLE input) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr)) {
        return -1;
    }
    return static_cast<long>(waiting);
}

// A key press that gives a character. A console may give Escape without its
// character; it is the key the board expects as 27.
bool CharacterOf(const INPUT_RECORD& record, char& key) {
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) {
        return false;
    }
    key = record.Event.KeyEvent.uChar.AsciiChar;
    if (key == 0 && record.Event.KeyEvent.wVirtualKeyCode == VK_ESCAPE) {
        key = 27;
    }
    return key != 0;
}

}  // namespace

ConsoleInput::ConsoleInput() {
    inputHandle = GetStdHandle(STD_INPUT_HANDLE);
    if (inputHandle == nullptr || inputHandle == INVALID_HANDLE_VALUE) {
        ended = true;
        return;
    }
    if (!GetConsoleMode(inputHandle, &foundMode)) {
        return;
    }
    if (!exitHookRegistered) {
        exitHookRegistered = std::atexit(RestoreAtExit) == 0;
    }
    SetConsoleCtrlHandler(RestoreOnControlEvent, TRUE);
    InterlockedExchange(&modeChanged, 1);
    terminal = SetConsoleMode(inputHandle, ENABLE_PROCESSED_INPUT) != FALSE;
    // A console on a terminal of another system (Wine's) may switch that
    // terminal to key-at-a-time input only when input is first asked for;
    // asking now makes the switch before the caller shows that keys are
    // taken.
    DWORD waiting = 0;
    GetNumberOfConsoleInputEvents(inputHandle, &waiting);
    if (!terminal) {
        InterlockedExchange(&modeChanged, 0);
        SetConsoleCtrlHandler(RestoreOnControlEvent, FALSE);
    }
}

ConsoleInput::~ConsoleInput() {
    if (!terminal) {
        return;
    }
    RestoreConsoleMode();
    SetConsoleCtrlHandler(RestoreOnControlEvent, FALSE);
}

int ConsoleInput::PollKey(uint32_t waitMs, char& key) {
    while (nextCharacter == characters.size() && !ended) {
        if (!WaitReadable(waitMs)) {
            return 0;
        }
        ReadAvailable();
        waitMs = 0;
    }
    return TakeCharacter(key) ? 1 : 0;
}

// A console's handle is signalled while input records wait. A pipe is
// looked at until the wait has passed; a file or device is always ready.
bool ConsoleInput::WaitReadable(uint32_t waitMs) {
    if (terminal) {
        return WaitForSingleObject(inputHandle, waitMs) == WAIT_OBJECT_0;
    }
    if (!IsPipe(inputHandle)) {
        return true;
    }
    const DWORD start = GetTickCount();
    for (;;) {
        // The end of the pipe counts as readable: the read that follows finds it.
        if (PipeBytesWaiting(inputHandle) != 0) {
            return true;
        }
        const DWORD waited = GetTickCount() - start;
        if (waited >= waitMs) {
            return false;
        }
        Sleep(waitMs - waited < kPipePollMs ? waitMs - waited : kPipePollMs);
    }
}

// One input record from a console (a record that is no key press gives
// nothing); what is waiting from a pipe or file, whose end or failure ends
// the keyboard.
void ConsoleInput::ReadAvailable() {
    if (terminal) {
        INPUT_RECORD record{};
        DWORD count = 0;
        char key = 0;
        if (ReadConsoleInputA(inputHandle, &record, 1, &count) && count == 1 &&
            CharacterOf(record, key)) {
            characters.push_back(key);
        }
        return;
    }
    uint8_t bytes[kReadChunkBytes];
    DWORD wanted = kReadChunkBytes;
    if (IsPipe(inputHandle)) {
        const long waiting = PipeBytesWaiting(inputHandle);
        wanted = waiting > 0 && static_cast<DWORD>(waiting) < wanted ? static_cast<DWORD>(waiting)
                                                                     : wanted;
    }
    DWORD count = 0;
    if (!ReadFile(inputHandle, bytes, wanted, &count, nullptr) || count == 0) {
        ended = true;
        return;
    }
    TakeBytes(bytes, count);
}

void ConsoleInput::TakeBytes(const uint8_t* bytes, std::size_t count) {
    characters.append(reinterpret_cast<const char*>(bytes), count);
}
