#pragma once
// StampLedger: where the numbers handed out are kept, so that none is ever
// handed out twice. A reservation is on stable storage (a file forced to
// disk, a committed transaction) before Reserve returns; a reservation is
// closed later as used, failed (with the outcome's name) or interrupted. A
// reservation never closed (the program was killed) stays reserved: the
// number is spent all the same.
//
// Two kinds (OpenStampLedger picks by the name): a JSON Lines file
// (FileLedger.h) and, in builds with PostgreSQL, a table of a database
// named by a postgresql:// or postgres:// address (PostgresLedger.h).
//
// Every failure ends the run through FatalError (status 1) with the ledger's
// name and why.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/stamp/StampPlan.h"

// Who takes the number.
struct StampTaker {
    std::string port;
    std::optional<uint32_t> boardNumber;
    std::optional<std::string> runId;
    std::optional<std::string> station;
};

class StampLedger {
  public:
    virtual ~StampLedger() = default;

    // Reads the ledger and makes sure a number is left, before the port is
    // opened.
    virtual void Check() = 0;
    // Reserves the next number for taker, durably.
    virtual StampValue Reserve(const StampTaker& taker) = 0;
    // state: "used", "failed" or "interrupted"; outcome: the outcome's name.
    virtual void Close(const StampValue& value, const StampTaker& taker, const char* state,
                       const std::string& outcome) = 0;
};

// A ledger of the plan's kind, opened.
std::unique_ptr<StampLedger> OpenStampLedger(const StampPlan& plan);

// Whether name is the address of a database ledger.
bool IsDatabaseLedger(const std::string& name);
// Whether this build keeps ledgers in databases.
bool BuildHasDatabaseLedger();

// UTC, ISO 8601 with milliseconds, as the records give their times.
std::string LedgerTimeNow();
