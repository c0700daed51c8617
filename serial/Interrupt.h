#pragma once
// Interrupt: the operator's request to end the run (Ctrl-C, SIGTERM, SIGHUP;
// on Windows Ctrl-C, Ctrl-Break and the closing of the console), noted
// instead of ending the program on the spot, so that the run can give the
// port back and finish its record first. One implementation per platform
// (InterruptPosix.cpp, InterruptWin32.cpp).
//
// Once the handlers are installed, a request only sets a flag (the handlers
// do nothing else, so they are safe whatever the program was doing). COMPort
// looks at the flag around every read and write, and a wait of the port that
// a request cuts short returns at once; COMPort then raises InterruptedError
// (errors/Interrupted.h), which unwinds through the port's destructor to the
// program flow. The flow ends the program with EndAsInterrupted, which ends
// it exactly as the request would have without handlers: on POSIX the signal
// is raised again with its default action (so the exit status is the
// signal's), on Windows the exit code is 0xC000013A. A second request while
// the first is being handled ends the program at once, the same way.
//
// A signal the program was started with ignored (nohup, a background job of
// a non-interactive shell) stays ignored.
//
// On POSIX a closed standard output or error (SIGPIPE at its default: the
// reader of a pipe went away) is such a request too, named "SIGPIPE": the
// run ends in order, and then the program as SIGPIPE would have ended it
// (status 141 in a shell). Later SIGPIPEs of the same end are not a second
// request. A program started with SIGPIPE ignored keeps going as before.

#include <cstdint>

// Installs the handlers (once; later calls do nothing).
void InstallInterruptHandlers();
// For a run started by a gang: the end of the parent process (killed, say)
// is noted as a request too, also while the run writes nothing (its output
// pipe would tell only at the next write): on Linux through the parent-death
// signal (SIGHUP), on Windows by a thread that waits on the parent's handle
// (CTRL_CLOSE). Elsewhere nothing is done. Call after
// InstallInterruptHandlers.
void InterruptWhenParentEnds();
// Whether InstallInterruptHandlers has run: other handlers of the same
// requests (the console keyboard's) then pass the request on instead of
// ending the program themselves.
bool InterruptHandlersInstalled();

// The request noted so far: 0 when none, else the platform's code for it
// (the signal number on POSIX).
int InterruptRequest();
// Notes request as if its handler had run; safe in a signal handler. For
// handlers that take a request first, and for tests.
void NoteInterrupt(int request);
// Forgets the request noted: a run that has ended in order on a request
// (board after board) and goes on to its end, and tests.
void ClearInterrupt();

// Waits waitMs, or less when the operator asks to end the run meanwhile (or
// has asked already); true when a request has been noted. The wait takes no
// time of the processor: it sleeps until the request or the time comes.
bool WaitForInterrupt(uint32_t waitMs);

// The request's name for a record: "SIGINT", "SIGTERM", "SIGHUP"; on Windows
// "CTRL_C", "CTRL_BREAK", "CTRL_CLOSE".
const char* InterruptName(int request);

// Ends the program as request would have ended it without handlers (see
// above). Standard output is not flushed, as it would not have been.
[[noreturn]] void EndAsInterrupted(int request);
