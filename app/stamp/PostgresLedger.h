#pragma once
// The ledger in a PostgreSQL table, for a line of stations that share one
// series of numbers (--stamp-ledger postgresql://...). Builds without
// PostgreSQL (the Windows builds, the static build for the guest: the
// VANTOIR_POSTGRESQL option) refuse such a ledger before the port is opened.
//
// The table, made only when it is missing (app/database/PostgresTable.h:
// a station's role needs only SELECT, INSERT and UPDATE on it), under the
// advisory lock of the reservations:
//   vantoir_stamp_ledger (
//     value_key   text PRIMARY KEY   -- the counter in fixed-width hex: orders as the numbers
//     value       text NOT NULL      -- as the file ledger shows it ("17", "00:1A:2B:...")
//     format      text NOT NULL      -- "u32le", "bytes:6", ...
//     state       text NOT NULL      -- reserved, used, failed, interrupted
//     outcome     text               -- the closing outcome's name
//     port, station, run_id text; board_number bigint;
//     reserved_at, closed_at timestamptz)
// A reservation takes the advisory lock, reads the largest value (or the
// values named, for a list), inserts the next, and commits, all in one
// transaction, before the first record goes out; the primary key makes a
// number taken twice impossible, not merely unlikely. A closing is one
// UPDATE of the row. One table is one series: another series goes in
// another schema (options=-csearch_path=... in the address) or database.
// Passwords come from PGPASSWORD or libpq's password file, never from the
// command line, which is echoed.
//
// The connection (app/database/PostgresConnection.h) is made again when
// it is found broken, so a run of many boards rides out a restart of the
// server. A reservation whose COMMIT went unanswered (the connection lost
// on the way) may have been made: the next try first looks for that row
// and takes it when it is the taker's, so that no number is left reserved
// for a board that never got it.

#include <memory>

#include "app/stamp/StampLedger.h"

std::unique_ptr<StampLedger> OpenPostgresLedger(const StampPlan& plan);
// What the table holds (--ledger-list), read without making anything;
// FatalError when it cannot be read.
LedgerSummary ListPostgresLedger(const std::string& address);
