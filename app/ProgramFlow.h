#pragma once
// The order of a run: parse the command line, open the port, run the chosen
// mode, close what was opened. Every way a run ends comes back to one place,
// RunProgram's handler, after everything the run had opened has been given
// back (the port closed, with the settings found at open put back when no
// line set-up had happened): a port error ("Error occurred: %s\n" on standard
// error, status 1), an error the program finds itself (a rejected argument,
// a data file that cannot be opened or read: FatalError), and the normal end
// of a mode, and the operator's request to end the run (Ctrl-C, SIGTERM,
// SIGHUP: serial/Interrupt.h), which the port notices at its next transfer.
// Only the requests that answer and end the run before anything is opened
// (usage, banners, --list-ports) leave by another way. With --report, that
// one place also appends the run's record (app/RunReport.h) before the
// program ends; a report file that cannot be opened ends the run with "Can't
// open report file %s\n" before the port is opened.
//
// Exit statuses: 0 after a complete download session and after a raw copy; 1
// after a download session that stopped on a protocol failure (its message is
// on standard output, and the port and the file are closed first); 1 for a
// rejected argument, for a data file that cannot be opened or read to its end
// ("Error reading file %s\n"), and for every port error. Console mode ends
// only when the operator interrupts it.
//
// With --check or --check-only the data file is checked first, before the
// port is opened (app/ImageCheckRun.h): a refused image ends the run with
// status 1; --check-only ends after the check, with 0 for a sound image.
//
// With --gang the run, once the image is checked, is a gang's (app/Gang.h):
// the program starts itself once per port and ends with the gang's status.

#include <string>

#include "serial/PortPlatform.h"

// How a run ended: the exit status, and the message for standard error
// (line end included; empty when there is none).
struct RunEnd {
    int status = 0;
    std::string message;
    // The operator's request that ended the run (serial/Interrupt.h), 0 when
    // none: the program then ends as the request would have, not with status.
    int interrupt = 0;
};

// Runs the program for the arguments as main receives them. Returns how the
// run ended, once the port has been given back; raises nothing.
RunEnd RunProgram(int argumentCount, char** arguments);
// The same over a given platform layer (tests substitute a fake one).
RunEnd RunProgram(int argumentCount, char** arguments, PortPlatform& platform);

// Ends the program as end says: writes its message on standard error, after
// what standard output still holds (so that a log of both streams keeps the
// order of events), and returns the exit status for main to return. A run
// ended by the operator's request ends here as the request would have ended
// it without handlers (the signal raised again; on Windows 0xC000013A),
// with nothing more printed.
int EndProgram(const RunEnd& end);
