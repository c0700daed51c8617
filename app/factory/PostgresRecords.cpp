// The factory's table of records in PostgreSQL, through libpq, without
// blocking: every wait is the program's own (DatabaseSocket.h), bounded by
// DatabaseWaits.
#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/factory/DatabaseSocket.h"
#include "app/factory/RecordDatabase.h"
#include "errors/FormatText.h"

namespace {

// Stations making the table at once take turns through this lock
// ("records" in ASCII).
constexpr const char* kMakeTable =
    "BEGIN;"
    "SELECT pg_advisory_xact_lock(32199625090950259);"
    "CREATE TABLE IF NOT EXISTS vantoir_records ("
    " record_id uuid PRIMARY KEY,"
    " run_id text NOT NULL,"
    " station text,"
    " port text,"
    " board_number integer,"
    " label text,"
    " started timestamptz,"
    " ended timestamptz,"
    " outcome text NOT NULL,"
    " exit_status integer,"
    " file_sha256 text,"
    " seconds double precision,"
    " record jsonb NOT NULL);"
    "COMMIT";

constexpr const char* kTableThere = "SELECT to_regclass('vantoir_records') IS NOT NULL";

// The columns come from the record itself, so that a record that does not
// fit them is refused by the database, in its own words.
constexpr const char* kPrepareInsert =
    "PREPARE vantoir_record_insert (uuid, jsonb) AS "
    "INSERT INTO vantoir_records (record_id, run_id, station, port, board_number, label, "
    "started, ended, outcome, exit_status, file_sha256, seconds, record) "
    "SELECT $1, r->>'run_id', r->>'station', r->>'port', (r->>'board_number')::integer, "
    "r->>'label', (r->>'started')::timestamptz, (r->>'ended')::timestamptz, r->>'outcome', "
    "(r->>'exit_status')::integer, r->>'file_sha256', (r->>'seconds')::double precision, r "
    "FROM (SELECT $2 AS r) AS line "
    "ON CONFLICT (record_id) DO NOTHING";

// Records sent in one query: each its savepoint, insert and release.
constexpr size_t kBatchRecords = 200;
constexpr int kStatementsPerRecord = 3;
// A record whose insert met another transaction's (a deadlock, a
// serialization failure) is tried again this many times.
constexpr int kRetries = 3;

void IgnoreNotice(void* /*context*/, const char* /*message*/) {}

// libpq's reasons end in a line end, and some have a second line
// ("\tIs the server running ..."): one line of text, its lines joined by
// "; ", blanks run together.
std::string OneLine(const char* text) {
    std::string line;
    bool broken = false;
    bool blank = false;
    for (const char* c = text != nullptr ? text : ""; *c != '\0'; ++c) {
        if (*c == '\n' || *c == '\r') {
            broken = true;
        } else if (*c == ' ' || *c == '\t') {
            blank = true;
        } else {
            if (!line.empty() && (broken || blank)) {
                line += broken ? "; " : " ";
            }
            line += *c;
            broken = false;
            blank = false;
        }
    }
    return line;
}

class Result {
  public:
    Result() = default;
    ~Result() { PQclear(result); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    void Take(PGresult* next) {
        PQclear(result);
        result = next;
    }
    PGresult* get() const { return result; }
    bool Failed() const {
        const ExecStatusType status = PQresultStatus(result);
        return status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
    }
    // The server's own words, without the severity before them.
    std::string Message() const {
        const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
        return OneLine(primary != nullptr ? primary : PQresultErrorMessage(result));
    }
    std::string State() const {
        const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
        return state != nullptr ? state : "";
    }

  private:
    PGresult* result = nullptr;
};

}  // namespace

bool IsDatabaseAddress(const std::string& address, std::string& why) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(address.c_str(), &error);
    if (options == nullptr) {
        why = error != nullptr ? OneLine(error) : "out of memory";
    }
    PQfreemem(error);
    PQconninfoFree(options);
    return options != nullptr;
}

int AddressConnectTimeoutMs(const std::string& address) {
    PQconninfoOption* options = PQconninfoParse(address.c_str(), nullptr);
    int timeoutMs = 0;
    for (PQconninfoOption* option = options; option != nullptr && option->keyword != nullptr;
         ++option) {
        if (std::strcmp(option->keyword, "connect_timeout") == 0 && option->val != nullptr) {
            timeoutMs = std::max(0, std::atoi(option->val)) * 1000;
        }
    }
    PQconninfoFree(options);
    return timeoutMs;
}

namespace {

class PostgresRecords : public RecordDatabase {
  public:
    PostgresRecords(const std::string& databaseAddress, const DatabaseWaits& databaseWaits)
        : address(databaseAddress), waits(databaseWaits) {
        const int given = AddressConnectTimeoutMs(address);
        if (given > 0) {
            waits.connectMs = std::min(waits.connectMs, given);
        }
    }
    ~PostgresRecords() override { Drop(); }
    PostgresRecords(const PostgresRecords&) = delete;
    PostgresRecords& operator=(const PostgresRecords&) = delete;

    bool Store(const std::vector<RecordToStore>& records, std::vector<StoredRecord>& results,
               std::string& why) override {
        results.assign(records.size(), StoredRecord());
        if ((connection == nullptr && !Connect(why)) || !Prepare(why) || !Run("BEGIN", why)) {
            return Away();
        }
        std::vector<int> tries(records.size(), 0);
        for (size_t next = 0; next < records.size();) {
            if (!StoreBatch(records, next, tries, results, why)) {
                return Away();
            }
        }
        return Run("COMMIT", why) || Away();
    }

  private:
    bool Away() {
        Drop();
        return false;
    }

    void Drop() {
        PQfinish(connection);
        connection = nullptr;
        prepared = false;
    }

    std::string Reason() const { return OneLine(PQerrorMessage(connection)); }

    bool Connect(std::string& why) {
        const char* keywords[] = {"dbname", "client_encoding", "fallback_application_name",
                                  nullptr};
        const char* values[] = {address.c_str(), "UTF8", "vantoir", nullptr};
        connection = PQconnectStartParams(keywords, values, 1);
        if (connection == nullptr || PQstatus(connection) == CONNECTION_BAD) {
            why = connection != nullptr ? Reason() : "out of memory";
            return false;
        }
        const auto end =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(waits.connectMs);
        for (PostgresPollingStatusType status = PGRES_POLLING_WRITING; status != PGRES_POLLING_OK;
             status = PQconnectPoll(connection)) {
            if (status == PGRES_POLLING_FAILED) {
                why = Reason();
                return false;
            }
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                    .count();
            if (left <= 0 || WaitForSocket(PQsocket(connection), status == PGRES_POLLING_WRITING,
                                           static_cast<int>(left)) != SocketWait::Ready) {
                why = FormatText("no answer within %.1f s", waits.connectMs / 1000.0);
                return false;
            }
        }
        PQsetNoticeProcessor(connection, IgnoreNotice, nullptr);
        return PQsetnonblocking(connection, 1) == 0 || Lost(why);
    }

    bool Lost(std::string& why) {
        why = Reason();
        return false;
    }

    bool NoAnswer(std::string& why) {
        why = FormatText("no answer within %.1f s", waits.answerMs / 1000.0);
        return false;
    }

    // Waits for the socket; false with why when the database does not answer
    // in time.
    bool Await(bool forWriting, std::string& why) {
        const SocketWait wait = WaitForSocket(PQsocket(connection), forWriting, waits.answerMs);
        return wait == SocketWait::Ready || NoAnswer(why);
    }

    bool Send(const std::string& sql, std::string& why) {
        if (PQsendQuery(connection, sql.c_str()) == 0) {
            return Lost(why);
        }
        for (int pending = PQflush(connection); pending != 0; pending = PQflush(connection)) {
            if (pending < 0) {
                return Lost(why);
            }
            if (!Await(true, why)) {
                return false;
            }
            if (PQconsumeInput(connection) == 0) {
                return Lost(why);
            }
        }
        return true;
    }

    // The next result of the query sent; nullptr once it has given them all.
    bool Next(Result& result, std::string& why) {
        while (PQisBusy(connection) != 0) {
            if (!Await(false, why)) {
                return false;
            }
            if (PQconsumeInput(connection) == 0) {
                return Lost(why);
            }
        }
        result.Take(PQgetResult(connection));
        return true;
    }

    // Sends sql (one statement or several) and reads every result; false with
    // the first failure's reason.
    bool Run(const std::string& sql, std::string& why, std::string* firstValue = nullptr) {
        if (!Send(sql, why)) {
            return false;
        }
        std::string failure;
        for (Result result;;) {
            if (!Next(result, why)) {
                return false;
            }
            if (result.get() == nullptr) {
                break;
            }
            if (result.Failed() && failure.empty()) {
                failure = result.Message();
            } else if (firstValue != nullptr && PQntuples(result.get()) > 0) {
                *firstValue = PQgetvalue(result.get(), 0, 0);
            }
        }
        why = failure;
        return failure.empty();
    }

    // The table found or made, and the insert prepared: once a connection.
    bool Prepare(std::string& why) {
        if (prepared) {
            return true;
        }
        std::string there;
        if (!Run(kTableThere, why, &there) || (there != "t" && !Run(kMakeTable, why)) ||
            !Run(kPrepareInsert, why)) {
            return false;
        }
        prepared = true;
        return true;
    }

    std::string Literal(const std::string& text) {
        char* escaped = PQescapeLiteral(connection, text.c_str(), text.size());
        std::string literal = escaped != nullptr ? escaped : "NULL";
        PQfreemem(escaped);
        return literal;
    }

    std::string BatchSql(const std::vector<RecordToStore>& records, size_t from, size_t to) {
        std::string sql;
        for (size_t i = from; i < to; ++i) {
            sql += "SAVEPOINT vantoir_record;EXECUTE vantoir_record_insert(" +
                   Literal(records[i].id) + "," + Literal(records[i].line) +
                   ");RELEASE SAVEPOINT vantoir_record;";
        }
        return sql;
    }

    // A refused insert: its reason, or nothing when it met another
    // transaction (a deadlock, a serialization failure) and goes again.
    // True when it goes again.
    static bool Refusal(const Result& result, int& tries, StoredRecord& stored) {
        const std::string state = result.State();
        if ((state == "40P01" || state == "40001") && ++tries <= kRetries) {
            return true;
        }
        stored = {StoredRecord::Result::Refused, result.Message()};
        return false;
    }

    // Sends the records from next on, up to a batch, and reads what became
    // of each; next moves past those done. A refused insert ends the batch
    // there (the server skips the rest): its savepoint is rolled back and the
    // records after it go in the next batch. False when the database is away.
    bool StoreBatch(const std::vector<RecordToStore>& records, size_t& next,
                    std::vector<int>& tries, std::vector<StoredRecord>& results, std::string& why) {
        const size_t end = std::min(records.size(), next + kBatchRecords);
        if (!Send(BatchSql(records, next, end), why)) {
            return false;
        }
        std::optional<size_t> failed;
        bool again = false;
        for (size_t statement = 0;; ++statement) {
            Result result;
            if (!Next(result, why)) {
                return false;
            }
            if (result.get() == nullptr) {
                break;
            }
            const size_t record = next + statement / kStatementsPerRecord;
            if (statement % kStatementsPerRecord != 1) {
                // The savepoints' own statements failing: the transaction is lost.
                if (result.Failed()) {
                    why = result.Message();
                    return false;
                }
            } else if (result.Failed()) {
                failed = record;
                again = Refusal(result, tries[record], results[record]);
            } else {
                results[record].result = std::strcmp(PQcmdTuples(result.get()), "1") == 0
                                             ? StoredRecord::Result::Stored
                                             : StoredRecord::Result::HadAlready;
            }
        }
        if (!failed) {
            next = end;
            return true;
        }
        next = *failed + (again ? 0 : 1);
        return Run("ROLLBACK TO SAVEPOINT vantoir_record;RELEASE SAVEPOINT vantoir_record", why);
    }

    std::string address;
    DatabaseWaits waits;
    PGconn* connection = nullptr;
    bool prepared = false;
};

}  // namespace

std::unique_ptr<RecordDatabase> OpenRecordDatabase(const std::string& address,
                                                   const DatabaseWaits& waits) {
    return std::make_unique<PostgresRecords>(address, waits);
}

bool BuildHasRecordDatabase() {
    return true;
}
