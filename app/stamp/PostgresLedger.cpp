// The ledger in a PostgreSQL table, through libpq.
#include "app/stamp/PostgresLedger.h"

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "app/database/PostgresConnection.h"
#include "app/database/PostgresTable.h"
#include "app/stamp/StampMessages.h"
#include "errors/FatalError.h"

namespace {

// Every station that reserves takes this lock for the length of its
// transaction ("vantoir" in ASCII); the table is made under it too.
constexpr int64_t kAdvisoryLockKey = 33317971305933170;
constexpr const char* kAdvisoryLock = "SELECT pg_advisory_xact_lock(33317971305933170)";

constexpr const char* kCreateTable =
    "CREATE TABLE vantoir_stamp_ledger ("
    " value_key text PRIMARY KEY,"
    " value text NOT NULL,"
    " format text NOT NULL,"
    " state text NOT NULL CHECK (state IN ('reserved', 'used', 'failed', 'interrupted')),"
    " outcome text,"
    " port text,"
    " board_number bigint,"
    " run_id text,"
    " station text,"
    " reserved_at timestamptz NOT NULL DEFAULT now(),"
    " closed_at timestamptz)";

const TableRecipe kTable = {"vantoir_stamp_ledger", kCreateTable, kAdvisoryLockKey};

// The counter in fixed-width upper-case hex: ordered as text as the values
// are as numbers.
std::string KeyOf(const StampValue& value) {
    std::string key;
    char digits[3];
    for (uint8_t byte : value.counter) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        key += digits;
    }
    return key;
}

bool ValueOfKey(const std::string& key, size_t counterBytes, StampValue& value) {
    if (key.size() != 2 * counterBytes) {
        return false;
    }
    value.counter.clear();
    for (size_t at = 0; at < key.size(); at += 2) {
        unsigned byte = 0;
        if (std::sscanf(key.c_str() + at, "%2X", &byte) != 1) {
            return false;
        }
        value.counter.push_back(static_cast<uint8_t>(byte));
    }
    return true;
}

SqlParameter Optional(const std::string* value) {
    return value != nullptr ? SqlParameter(*value) : SqlParameter();
}

// A reservation inserted, whose COMMIT went unanswered: the value, and the
// transaction that inserted it (the row's xmin, should it have committed).
struct Unanswered {
    StampValue value;
    std::string transaction;
};

class PostgresLedger : public StampLedger {
  public:
    explicit PostgresLedger(const StampPlan& stampPlan)
        : plan(stampPlan), connection(stampPlan.ledger) {}

    void Check() override {
        const Deadline unbounded;
        StampValue next;
        if (!EnsureTable(connection, kTable, unbounded) || !Next(unbounded, next)) {
            FatalError(messages::kLedgerCannotFormat, LedgerShownName(plan.ledger).c_str(),
                       connection.Error().c_str());
        }
    }

    std::optional<StampValue> Reserve(const StampTaker& taker, const Deadline& deadline,
                                      LedgerFault& fault) override {
        std::optional<StampValue> made;
        if (unanswered && !TakeUnanswered(deadline, made)) {
            fault = Faulted();
            return std::nullopt;
        }
        if (made) {
            return made;
        }
        StampValue next;
        SqlRows inserted;
        if (!connection.Run("BEGIN", {}, deadline) ||
            !connection.Run(kAdvisoryLock, {}, deadline) || !Next(deadline, next) ||
            !Insert(next, taker, deadline, inserted)) {
            fault = Faulted();
            return std::nullopt;
        }
        unanswered = Unanswered{next, inserted.empty() ? std::string() : inserted[0][0]};
        const bool committed = connection.Run("COMMIT", {}, deadline);
        if (committed || !connection.Lost()) {
            unanswered.reset();
        }
        if (!committed) {
            fault = Faulted();
            return std::nullopt;
        }
        return next;
    }

    bool Close(const StampValue& value, const StampTaker& /*taker*/, const char* state,
               const std::string& outcome, const Deadline& deadline, LedgerFault& fault) override {
        SqlRows rows;
        if (!connection.Run("UPDATE vantoir_stamp_ledger SET state = $1, outcome = $2, "
                            "closed_at = now() WHERE value_key = $3 RETURNING value_key",
                            {state, outcome, KeyOf(value)}, deadline, &rows)) {
            fault = Faulted();
            return false;
        }
        if (rows.empty()) {
            fault = {"the table has no row of " + StampValueText(plan.spec.format, value), false};
            return false;
        }
        return true;
    }

  private:
    // The connection's fault; the connection is given up with any
    // transaction it had open.
    LedgerFault Faulted() {
        LedgerFault fault{connection.Error(), connection.Lost()};
        connection.Drop();
        return fault;
    }

    bool Insert(const StampValue& next, const StampTaker& taker, const Deadline& deadline,
                SqlRows& inserted) {
        const std::string boardNumber =
            taker.boardNumber ? std::to_string(*taker.boardNumber) : std::string();
        return connection.Run(
            "INSERT INTO vantoir_stamp_ledger (value_key, value, format, state, port, "
            "board_number, run_id, station) VALUES ($1, $2, $3, 'reserved', $4, $5, $6, $7) "
            "RETURNING xmin::text",
            {KeyOf(next), StampValueText(plan.spec.format, next), plan.spec.format.Name(),
             taker.port, Optional(taker.boardNumber ? &boardNumber : nullptr),
             Optional(taker.runId ? &*taker.runId : nullptr),
             Optional(taker.station ? &*taker.station : nullptr)},
            deadline, &inserted);
    }

    // Whether the unanswered reservation could be looked for; made holds
    // it when its transaction did commit.
    bool TakeUnanswered(const Deadline& deadline, std::optional<StampValue>& made) {
        SqlRows rows;
        if (!connection.Run("SELECT xmin::text FROM vantoir_stamp_ledger WHERE value_key = $1 "
                            "AND state = 'reserved'",
                            {KeyOf(unanswered->value)}, deadline, &rows)) {
            return false;
        }
        if (!rows.empty() && !unanswered->transaction.empty() &&
            rows[0][0] == unanswered->transaction) {
            made = unanswered->value;
        }
        unanswered.reset();
        return true;
    }

    // The next value after what the table holds; false when the table
    // could not be read. A table that holds no value of the format, or no
    // number left, ends the run.
    bool Next(const Deadline& deadline, StampValue& next) {
        // A counter needs only the largest value; a list, every value named.
        SqlRows rows;
        if (!connection.Run(plan.listPath.empty() ? "SELECT value_key FROM vantoir_stamp_ledger "
                                                    "ORDER BY value_key DESC LIMIT 1"
                                                  : "SELECT value_key FROM vantoir_stamp_ledger",
                            {}, deadline, &rows)) {
            return false;
        }
        LedgerValues held;
        const size_t counterBytes = plan.spec.format.CounterBytes();
        for (const auto& row : rows) {
            StampValue value;
            if (!ValueOfKey(row[0], counterBytes, value) ||
                !StampValueFits(plan.spec.format, value)) {
                FatalError(messages::kLedgerCannotFormat, LedgerShownName(plan.ledger).c_str(),
                           ("the table holds " + row[0] + ", which is no value of " +
                            plan.spec.format.Name())
                               .c_str());
            }
            held.Take(value);
        }
        std::string why;
        if (!NextStampValue(plan, held, next, why)) {
            FatalError("%s", why.c_str());
        }
        return true;
    }

    const StampPlan& plan;
    PostgresConnection connection;
    std::optional<Unanswered> unanswered;
};

}  // namespace

std::unique_ptr<StampLedger> OpenPostgresLedger(const StampPlan& plan) {
    return std::make_unique<PostgresLedger>(plan);
}

namespace {

std::optional<std::string> OrNothing(const std::vector<std::string>& row, size_t column,
                                     const std::vector<bool>& nulls) {
    return nulls[column] ? std::nullopt : std::optional<std::string>(row[column]);
}

}  // namespace

LedgerSummary ListPostgresLedger(const std::string& address) {
    PostgresConnection connection(address);
    const Deadline unbounded;
    SqlRows open;
    SqlRows counts;
    // The texts that may be null come with a flag each, so that a null and
    // an empty text stay apart.
    if (!connection.Run("SELECT value, state, to_char(coalesce(closed_at, reserved_at) AT TIME "
                        "ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), coalesce(port, ''), "
                        "coalesce(run_id, ''), coalesce(station, ''), port IS NULL, run_id IS "
                        "NULL, station IS NULL FROM vantoir_stamp_ledger WHERE state <> 'used' "
                        "ORDER BY value_key",
                        {}, unbounded, &open) ||
        !connection.Run("SELECT state, count(*) FROM vantoir_stamp_ledger GROUP BY state", {},
                        unbounded, &counts)) {
        FatalError(messages::kLedgerCannotFormat, LedgerShownName(address).c_str(),
                   connection.Error().c_str());
    }
    LedgerSummary summary;
    for (const auto& row : open) {
        const std::vector<bool> nulls = {false,         false,         false,
                                         row[6] == "t", row[7] == "t", row[8] == "t"};
        summary.notUsed.push_back({row[0], row[1], row[2], OrNothing(row, 3, nulls),
                                   OrNothing(row, 4, nulls), OrNothing(row, 5, nulls)});
    }
    for (const auto& row : counts) {
        const long long count = std::stoll(row[1]);
        long long* counted = row[0] == "reserved" ? &summary.reserved
                             : row[0] == "used"   ? &summary.used
                             : row[0] == "failed" ? &summary.failed
                                                  : &summary.interrupted;
        *counted = count;
    }
    return summary;
}

bool BuildHasDatabaseLedger() {
    return true;
}
