#pragma once
// The ledger in a PostgreSQL table, for a line of stations that share one
// series of numbers (--stamp-ledger postgresql://...). Builds without
// PostgreSQL (the Windows builds, the static build for the guest: the
// VANTOIR_POSTGRESQL option) refuse such a ledger before the port is opened.
//
// The table, created on first use under an advisory lock (so that stations
// creating it at once do not collide):
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
// number taken twice impossible, not merely unlikely. One table is one
// series: another series goes in another schema (options=-csearch_path=...
// in the address) or database. Passwords come from PGPASSWORD or libpq's
// password file, never from the command line, which is echoed.

#include <memory>

#include "app/stamp/StampLedger.h"

std::unique_ptr<StampLedger> OpenPostgresLedger(const StampPlan& plan);
