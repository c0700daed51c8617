#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "serial/Interrupt.h"
#include "serial/StandardInput.h"

namespace {

constexpr DWORD kReadChunkBytes = 512;
// How often a pipe is looked at while nothing is in it.
constexpr uint32_t kPipeLookMs = 20;
// How long the console's Ctrl-C, which has ended a read, may take to be
// noted by its handler (on a thread of its own).
constexpr uint32_t kControlNotedMs = 200;

bool IsConsole(HANDLE input) {
    DWORD mode = 0;
    return GetConsoleMode(input, &mode) != FALSE;
}

InputRead ReadChunk(HANDLE input, DWORD wanted, std::string& bytes, bool console = false) {
    char chunk[kReadChunkBytes];
    DWORD count = 0;
    if (!ReadFile(input, chunk, wanted < kReadChunkBytes ? wanted : kReadChunkBytes, &count,
                  nullptr) ||
        count == 0) {
        // Ctrl-C during a console's line read ends the read without bytes:
        // that is the request, not the input's end.
        return console && WaitForInterrupt(kControlNotedMs) ? InputRead::Waiting : InputRead::Ended;
    }
    bytes.append(chunk, count);
    return InputRead::Bytes;
}

// A pipe is looked at until something is in it or the wait has passed. A
// look that fails (its writer gone) is left to the read that follows, which
// takes what is still in the pipe, then finds its end.
InputRead ReadPipe(HANDLE input, std::string& bytes, uint32_t waitMs) {
    for (uint32_t waited = 0;; waited += kPipeLookMs) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr)) {
            return ReadChunk(input, kReadChunkBytes, bytes);
        }
        if (waiting > 0) {
            return ReadChunk(input, waiting, bytes);
        }
        if (waited >= waitMs || WaitForInterrupt(kPipeLookMs)) {
            return InputRead::Waiting;
        }
    }
}

}  // namespace

// A console's handle is signalled while input records wait; the read that
// follows takes the line once Enter is pressed (the console echoes and edits
// it). A file or device is always ready.
InputRead ReadStandardInput(std::string& bytes, uint32_t waitMs) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        return InputRead::Ended;
    }
    if (GetFileType(input) == FILE_TYPE_PIPE) {
        return ReadPipe(input, bytes, waitMs);
    }
    const bool console = IsConsole(input);
    if (console && WaitForSingleObject(input, waitMs) != WAIT_OBJECT_0) {
        return InputRead::Waiting;
    }
    return ReadChunk(input, kReadChunkBytes, bytes, console);
}

bool StandardInputIsTerminal() {
    return IsConsole(GetStdHandle(STD_INPUT_HANDLE));
}
