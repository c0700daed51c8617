#pragma once
// --ledger-list LEDGER: what a stamp ledger holds, on standard output: each
// number that is not used, one a line, in the ledger's order, with its
// state and what its last line (or its row) says: the time of that line
// (UTC), the port, and the run and station that reserved it (texts as JSON
// strings, null for none); then how many numbers are in each state:
//   1018 reserved time=2026-12-09T21:41:07.310Z port="/dev/ttyUSB0" run_id="st2-0413" station="line
//   3 / 2" 1021 failed time=2026-12-09T21:44:51.002Z port="/dev/ttyUSB1" run_id=null station=null
//   In all: 1 reserved, 1019 used, 1 failed, 0 interrupted.
// A request, answered where it stands on the command line (as --list-ports
// is): no port is opened, and nothing is written or made: a ledger file is
// read under its lock and never created, a database's table never made.
// Either kind of ledger (a file, or a postgresql:// address). Status 0; a
// ledger that cannot be read ends the program with "Stamp ledger %s: %s"
// (or, for a line that does not parse, "FILE:LINE: why"), status 1.

// Prints the listing of ledger and ends the program.
[[noreturn]] void PrintLedgerList(const char* ledger);
