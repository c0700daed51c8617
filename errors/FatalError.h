#pragma once
// How the program ends on an error.
//
// Port failures are raised as std::runtime_error with one of the fixed texts
// of serial/SerialMessages.h and reach the one handler of the program flow. Errors
// the program finds itself (command line, upload file) call FatalError, which
// raises a ProgramError (errors/ProgramError.h) to the same handler. Either
// way the stack unwinds first, so the port is closed and given back before
// the message is printed, whatever the layer the error came from.

#include "errors/FormatText.h"

// Formats the message as FormatText does and raises it as a ProgramError
// with exit status 1; the program flow's handler prints it on standard error
// (after what standard output holds) and ends the program. Never returns.
[[noreturn, gnu::format(printf, 1, 2)]] void FatalError(const char* format, ...);
