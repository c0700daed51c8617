#pragma once
// How the program ends on an error.
//
// Port failures are raised as std::runtime_error with one of the fixed texts
// of errors/Messages.h and reach the one handler of the program flow. Errors
// the program finds itself (command line, upload file) call FatalError
// directly.

// Flushes standard output (so that the message follows everything printed
// before it, also when both streams go to one file), writes the formatted
// message to standard error and ends the program with exit status 1 through
// the normal exit path. Never returns.
[[noreturn]] void FatalError(const char* format, ...);
