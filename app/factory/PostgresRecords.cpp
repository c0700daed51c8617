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

// Records sent in one query: each its savepoint, insert and release; the
// first query of a transaction begins it, the last commits it, so that a
// board's record costs one round trip on a connection kept.
constexpr size_t kBatchRecords = 200;
constexpr size_t kStatementsPerRecord = 3;
// The SQLSTATE of a table that is not there.
constexpr const char* kUndefinedTable = "42P01";
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

    // A connection made before (kept from the board before, or started
    // early) may have been broken since (the server restarted): found broken,
    // it is made once more, and the records sent again (the table stores
    // none twice, whether the commit was made or not).
    bool Store(const std::vector<RecordToStore>& records, std::vector<StoredRecord>& results,
               std::string& why) override {
        const bool madeBefore = connection != nullptr;
        if (StoreOnce(records, results, why)) {
            return true;
        }
        const bool lost = connection != nullptr && PQstatus(connection) == CONNECTION_BAD;
        Drop();
        return madeBefore && lost && StoreOnce(records, results, why);
    }

  private:
    // One try of Store; false when the database is away (the connection is
    // left for Store to look at).
    bool StoreOnce(const std::vector<RecordToStore>& records, std::vector<StoredRecord>& results,
                   std::string& why) {
        results.assign(records.size(), StoredRecord());
        if ((!Connected() && !Connect(why)) || !Prepare(why)) {
            return false;
        }
        Transaction transaction{records, results, std::vector<int>(records.size(), 0)};
        while (!transaction.committed) {
            // The last record refused: nothing is left to send with the commit.
            if (transaction.begun && transaction.next == records.size()) {
                return Run("COMMIT", why);
            }
            if (!StoreBatch(transaction, why)) {
                return false;
            }
        }
        return true;
    }

    void Drop() {
        PQfinish(connection);
        connection = nullptr;
        polling = PGRES_POLLING_WRITING;
        prepared = false;
    }

    std::string Reason() const { return OneLine(PQerrorMessage(connection)); }

    // Starts a connection; false with why when libpq refuses at once.
    bool StartConnection(std::string& why) {
        const char* keywords[] = {"dbname", "client_encoding", "fallback_application_name",
                                  nullptr};
        const char* values[] = {address.c_str(), "UTF8", "vantoir", nullptr};
        connection = PQconnectStartParams(keywords, values, 1);
        polling = PGRES_POLLING_WRITING;
        if (connection == nullptr || PQstatus(connection) == CONNECTION_BAD) {
            why = connection != nullptr ? Reason() : "out of memory";
            Drop();
            return false;
        }
        // The server's notices ("terminating connection due to immediate
        // shutdown command", which may come while the connection is being
        // made) are no concern of the operator's: libpq would print them on
        // standard error. What matters comes as the failure's reason.
        PQsetNoticeProcessor(connection, IgnoreNotice, nullptr);
        return true;
    }

    bool Connected() const { return connection != nullptr && polling == PGRES_POLLING_OK; }

    // Takes the connection being made on, as far as it goes within waitMs (0:
    // as far as it goes without waiting).
    enum class Progress { Done, Going, NoAnswer, Failed };
    Progress Poll(int waitMs, std::string& why) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (polling != PGRES_POLLING_OK) {
            if (polling == PGRES_POLLING_FAILED) {
                why = Reason();
                return Progress::Failed;
            }
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                    .count();
            const DatabaseSocketWait ready =
                WaitForDatabaseSocket(PQsocket(connection), polling == PGRES_POLLING_WRITING,
                                      static_cast<int>(std::max<int64_t>(left, 0)));
            if (ready == DatabaseSocketWait::TimedOut) {
                return waitMs == 0 ? Progress::Going : Progress::NoAnswer;
            }
            if (ready == DatabaseSocketWait::Failed) {
                why = "the server's socket cannot be waited on";
                return Progress::Failed;
            }
            polling = PQconnectPoll(connection);
        }
        if (PQsetnonblocking(connection, 1) != 0) {
            why = Reason();
            return Progress::Failed;
        }
        return Progress::Done;
    }

    // The connection made, within the connection's wait from now. One started
    // early (StartEarly) that failed since (a server that gave up a start-up
    // left waiting too long, say) is made once more.
    bool Connect(std::string& why) {
        const bool early = connection != nullptr;
        if (!early && !StartConnection(why)) {
            return false;
        }
        const Progress progress = Poll(waits.connectMs, why);
        if (progress == Progress::Done) {
            return true;
        }
        Drop();
        if (progress == Progress::NoAnswer) {
            why = FormatText("no answer within %.1f s", waits.connectMs / 1000.0);
            return false;
        }
        return early ? Connect(why) : false;
    }

    void StartEarly() override {
        std::string why;
        if (connection == nullptr && StartConnection(why) && Poll(0, why) == Progress::Failed) {
            Drop();
        }
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
        const DatabaseSocketWait wait =
            WaitForDatabaseSocket(PQsocket(connection), forWriting, waits.answerMs);
        return wait == DatabaseSocketWait::Ready || NoAnswer(why);
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
    // the first failure's reason (and its SQLSTATE in state, when asked).
    bool Run(const std::string& sql, std::string& why, std::string* state = nullptr) {
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
                if (state != nullptr) {
                    *state = result.State();
                }
            }
        }
        why = failure;
        return failure.empty();
    }

    // The insert prepared, once a connection; the table is made first when
    // the statement finds it missing (and only then, so that a role without
    // the right to create it never needs that right).
    bool Prepare(std::string& why) {
        std::string state;
        if (!prepared && !Run(kPrepareInsert, why, &state) &&
            (state != kUndefinedTable || !Run(kMakeTable, why) || !Run(kPrepareInsert, why))) {
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

    // One Store: the records, what became of each, how often each has met
    // another transaction, and how far it has got.
    struct Transaction {
        const std::vector<RecordToStore>& records;
        std::vector<StoredRecord>& results;
        std::vector<int> tries;
        size_t next = 0;
        bool begun = false;
        bool committed = false;
    };

    std::string BatchSql(const Transaction& transaction, size_t end, bool commits) {
        std::string sql = transaction.begun ? "" : "BEGIN;";
        for (size_t i = transaction.next; i < end; ++i) {
            sql += "SAVEPOINT vantoir_record;EXECUTE vantoir_record_insert(" +
                   Literal(transaction.records[i].id) + "," + Literal(transaction.records[i].line) +
                   ");RELEASE SAVEPOINT vantoir_record;";
        }
        return commits ? sql + "COMMIT" : sql;
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

    // What one statement of a batch says of its record (statement counts
    // from the first record's savepoint). False when the transaction is lost:
    // only an insert may fail.
    bool TakeResult(Transaction& transaction, const Result& result, size_t statement,
                    std::optional<size_t>& failed, bool& again, std::string& why) {
        const size_t record = transaction.next + statement / kStatementsPerRecord;
        if (statement % kStatementsPerRecord != 1) {
            why = result.Failed() ? result.Message() : "";
            return !result.Failed();
        }
        if (result.Failed()) {
            failed = record;
            again = Refusal(result, transaction.tries[record], transaction.results[record]);
        } else {
            transaction.results[record].result = std::strcmp(PQcmdTuples(result.get()), "1") == 0
                                                     ? StoredRecord::Result::Stored
                                                     : StoredRecord::Result::HadAlready;
        }
        return true;
    }

    // Sends the records from next on, up to a batch, and reads what became
    // of each; next moves past those done. A refused insert ends the batch
    // there (the server skips the rest, the commit too): its savepoint is
    // rolled back and the records after it go in the next batch. False when
    // the database is away.
    bool StoreBatch(Transaction& transaction, std::string& why) {
        const size_t end = std::min(transaction.records.size(), transaction.next + kBatchRecords);
        const bool commits = end == transaction.records.size();
        const size_t begins = transaction.begun ? 0 : 1;
        if (!Send(BatchSql(transaction, end, commits), why)) {
            return false;
        }
        transaction.begun = true;
        const size_t statements = (end - transaction.next) * kStatementsPerRecord;
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
            // The BEGIN before the records and the COMMIT after them.
            const bool around = statement < begins || statement >= begins + statements;
            if (around ? result.Failed()
                       : !TakeResult(transaction, result, statement - begins, failed, again, why)) {
                why = around ? result.Message() : why;
                return false;
            }
            transaction.committed = transaction.committed || statement == begins + statements;
        }
        if (!failed) {
            transaction.next = end;
            return true;
        }
        transaction.next = *failed + (again ? 0 : 1);
        return Run("ROLLBACK TO SAVEPOINT vantoir_record;RELEASE SAVEPOINT vantoir_record", why);
    }

    std::string address;
    DatabaseWaits waits;
    PGconn* connection = nullptr;
    // How far the connection being made has got.
    PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
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
