// The ledger in a PostgreSQL table, through libpq.
#include "app/stamp/PostgresLedger.h"

#include <libpq-fe.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "app/stamp/StampMessages.h"
#include "errors/FatalError.h"

namespace {

// Every station that reserves takes this lock for the length of its
// transaction ("vantoir" in ASCII).
constexpr const char* kAdvisoryLock = "SELECT pg_advisory_xact_lock(33317971305933170)";

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS vantoir_stamp_ledger ("
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

class Result {
  public:
    explicit Result(PGresult* pgResult) : result(pgResult) {}
    ~Result() { PQclear(result); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    PGresult* get() const { return result; }

  private:
    PGresult* result;
};

void IgnoreNotice(void* /*context*/, const char* /*message*/) {}

class PostgresLedger : public StampLedger {
  public:
    explicit PostgresLedger(const StampPlan& stampPlan) : plan(stampPlan) {
        connection = PQconnectdb(plan.ledger.c_str());
        if (connection == nullptr || PQstatus(connection) != CONNECTION_OK) {
            // The destructor does not run for a constructor that throws: the
            // failed connection is given back here, once its reason is taken.
            const std::string why = Reason();
            PQfinish(connection);
            connection = nullptr;
            FailedBecause(why);
        }
        // The server's notices ("relation ... already exists, skipping" at
        // every reservation) are no concern of the operator's; libpq would
        // print them on standard error.
        PQsetNoticeProcessor(connection, IgnoreNotice, nullptr);
    }
    ~PostgresLedger() override { PQfinish(connection); }
    PostgresLedger(const PostgresLedger&) = delete;
    PostgresLedger& operator=(const PostgresLedger&) = delete;

    void Check() override {
        Begin();
        StampValue next;
        NextOrEnd(next);
        Run("COMMIT", {});
    }

    StampValue Reserve(const StampTaker& taker) override {
        Begin();
        StampValue next;
        NextOrEnd(next);
        const std::string boardNumber =
            taker.boardNumber ? std::to_string(*taker.boardNumber) : std::string();
        Run("INSERT INTO vantoir_stamp_ledger (value_key, value, format, state, port, "
            "board_number, run_id, station) VALUES ($1, $2, $3, 'reserved', $4, $5, $6, $7)",
            {KeyOf(next), StampValueText(plan.spec.format, next), plan.spec.format.Name(),
             taker.port, Optional(taker.boardNumber ? &boardNumber : nullptr),
             Optional(taker.runId ? &*taker.runId : nullptr),
             Optional(taker.station ? &*taker.station : nullptr)});
        Run("COMMIT", {});
        return next;
    }

    void Close(const StampValue& value, const StampTaker& /*taker*/, const char* state,
               const std::string& outcome) override {
        Run("UPDATE vantoir_stamp_ledger SET state = $1, outcome = $2, closed_at = now() "
            "WHERE value_key = $3",
            {state, outcome, KeyOf(value)});
    }

  private:
    // A parameter: text, or SQL's null (nullptr).
    struct Parameter {
        Parameter(const std::string& value) : text(value), null(false) {}
        Parameter(const char* value) : text(value), null(false) {}
        Parameter() = default;
        std::string text;
        bool null = true;
    };
    static Parameter Optional(const std::string* value) {
        return value != nullptr ? Parameter(*value) : Parameter();
    }

    std::string Reason() const {
        std::string why = connection != nullptr ? PQerrorMessage(connection) : "out of memory";
        while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) {
            why.pop_back();
        }
        return why;
    }

    [[noreturn]] void FailedBecause(const std::string& why) {
        FatalError(messages::kLedgerCannotFormat, LedgerShownName(plan.ledger).c_str(),
                   why.c_str());
    }

    [[noreturn]] void Failed() { FailedBecause(Reason()); }

    // Runs sql; ends the run when it fails (the open transaction, if any,
    // ends with the connection).
    std::vector<std::vector<std::string>> Run(const char* sql,
                                              const std::vector<Parameter>& parameters) {
        std::vector<const char*> values;
        for (const Parameter& parameter : parameters) {
            values.push_back(parameter.null ? nullptr : parameter.text.c_str());
        }
        const Result result(PQexecParams(connection, sql, static_cast<int>(values.size()), nullptr,
                                         values.data(), nullptr, nullptr, 0));
        const ExecStatusType status = PQresultStatus(result.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            Failed();
        }
        std::vector<std::vector<std::string>> rows(static_cast<size_t>(PQntuples(result.get())));
        for (size_t row = 0; row < rows.size(); ++row) {
            for (int column = 0; column < PQnfields(result.get()); ++column) {
                rows[row].emplace_back(PQgetvalue(result.get(), static_cast<int>(row), column));
            }
        }
        return rows;
    }

    // Opens the transaction in which reservations take turns; the table is
    // made there on first use.
    void Begin() {
        Run("BEGIN", {});
        Run(kAdvisoryLock, {});
        Run(kCreateTable, {});
    }

    void NextOrEnd(StampValue& next) {
        // A counter needs only the largest value; a list, every value named.
        const auto rows = Run(plan.listPath.empty() ? "SELECT value_key FROM vantoir_stamp_ledger "
                                                      "ORDER BY value_key DESC LIMIT 1"
                                                    : "SELECT value_key FROM vantoir_stamp_ledger",
                              {});
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
    }

    const StampPlan& plan;
    PGconn* connection = nullptr;
};

}  // namespace

std::unique_ptr<StampLedger> OpenPostgresLedger(const StampPlan& plan) {
    return std::make_unique<PostgresLedger>(plan);
}

bool BuildHasDatabaseLedger() {
    return true;
}
