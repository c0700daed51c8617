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
// Before the port is opened (Check), every failure ends the run through
// FatalError (status 1) with the ledger's name and why. Later, a reservation
// or a closing that fails for the ledger's own sake (a disk that is full, a
// database that went away) is a LedgerFault, tried again with patience
// (ReserveWithPatience, CloseWithPatience); what the ledger holds (no
// number left, a line that does not parse) still ends the run.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/stamp/StampPlan.h"
#include "protocol/Deadline.h"

// Who takes the number.
struct StampTaker {
    std::string port;
    std::optional<uint32_t> boardNumber;
    std::optional<std::string> runId;
    std::optional<std::string> station;
};

// What went wrong with the ledger itself: why (the system's or the
// server's words), and whether another try may go better (passing: a disk
// that may be freed, a database that went away and may be back) or not (a
// statement the server refuses).
struct LedgerFault {
    std::string why;
    bool passing = false;
};

class StampLedger {
  public:
    virtual ~StampLedger() = default;

    // Reads the ledger and makes sure a number is left, before the port is
    // opened.
    virtual void Check() = 0;
    // Reserves the next number for taker, durably, waiting no longer than
    // deadline for the ledger; nothing, with fault, when the ledger failed.
    virtual std::optional<StampValue> Reserve(const StampTaker& taker, const Deadline& deadline,
                                              LedgerFault& fault) = 0;
    // state: "used", "failed" or "interrupted"; outcome: the outcome's name.
    // False, with fault, when the closing could not be made.
    virtual bool Close(const StampValue& value, const StampTaker& taker, const char* state,
                       const std::string& outcome, const Deadline& deadline,
                       LedgerFault& fault) = 0;
};

// How long a reservation or a closing is tried again after faults that may
// pass: the first try again at once (a connection found broken is made
// anew), then every kLedgerPauseMs.
inline constexpr uint64_t kLedgerPatienceMs = 5000;
inline constexpr uint64_t kLedgerPauseMs = 200;

// Reserve and Close, tried again with patience; why is the last fault's.
std::optional<StampValue> ReserveWithPatience(StampLedger& ledger, const StampTaker& taker,
                                              std::string& why);
bool CloseWithPatience(StampLedger& ledger, const StampValue& value, const StampTaker& taker,
                       const char* state, const std::string& outcome, std::string& why);

// What a ledger holds, for --ledger-list: every number that is not used,
// with its last state and what its last line (or its row) says, in the
// ledger's order, and how many numbers are in each state.
struct LedgerEntry {
    std::string value;  // as the ledger shows it ("17", "00:1A:2B:3C:4D:5E")
    std::string state;
    std::string time;  // of the last line; UTC, ISO 8601 with milliseconds
    std::optional<std::string> port;
    std::optional<std::string> runId;
    std::optional<std::string> station;
};
struct LedgerSummary {
    std::vector<LedgerEntry> notUsed;
    long long reserved = 0;
    long long used = 0;
    long long failed = 0;
    long long interrupted = 0;
};

// A ledger of the plan's kind, opened.
std::unique_ptr<StampLedger> OpenStampLedger(const StampPlan& plan);

// Whether name is the address of a database ledger.
bool IsDatabaseLedger(const std::string& name);
// Whether this build keeps ledgers in databases.
bool BuildHasDatabaseLedger();

// UTC, ISO 8601 with milliseconds, as the records give their times.
std::string LedgerTimeNow();
