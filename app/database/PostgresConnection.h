#pragma once
// PostgresConnection: one connection to a PostgreSQL server through libpq,
// made when it is first needed and made again when it was found broken (the
// server restarted, the network went away), so that a run of many boards
// rides out a restart of its database.
//
// Every wait is bounded by the caller's deadline: connecting and each
// statement wait on the socket (app/database/SocketWait.h) and give up once
// the deadline has passed, so a server that does not answer costs no more
// than the caller allows (a deadline never started: no bound). Connecting
// also honours the address's connect_timeout (at least 2 s, as libpq reads
// it), which libpq leaves to the program that connects without blocking.
//
// A statement that cannot be run leaves why in Error() (libpq's or the
// server's words, without the last line end) and says through Lost()
// whether the connection was lost on the way: then another try on a new
// connection may go better, and the connection has been given up already;
// otherwise the server refused the statement, and an open transaction is
// left to the caller to roll back (or to Drop). The server's notices are
// not shown.

#include <string>
#include <vector>

#include "protocol/Deadline.h"

// libpq's connection (libpq-fe.h).
typedef struct pg_conn PGconn;

// A parameter of a statement: text, or SQL's null.
struct SqlParameter {
    SqlParameter(const std::string& value) : text(value), null(false) {}
    SqlParameter(const char* value) : text(value), null(false) {}
    SqlParameter() = default;
    std::string text;
    bool null = true;
};
// Rows of a statement's result, each column as text (null as "").
using SqlRows = std::vector<std::vector<std::string>>;

class PostgresConnection {
  public:
    // address: a libpq connection string or URI; nothing is connected yet.
    explicit PostgresConnection(std::string address);
    ~PostgresConnection();
    PostgresConnection(const PostgresConnection&) = delete;
    PostgresConnection& operator=(const PostgresConnection&) = delete;

    // Connects, unless connected already; false when it cannot (Lost() is
    // then true).
    bool Connect(const Deadline& deadline);
    // Runs one statement, connecting first when needed; rows (when not
    // nullptr) get the rows of its result.
    bool Run(const char* sql, const std::vector<SqlParameter>& parameters, const Deadline& deadline,
             SqlRows* rows = nullptr);
    // Gives the connection up, and with it any open transaction.
    void Drop();

    const std::string& Error() const { return error; }
    bool Lost() const { return lost; }

  private:
    bool AwaitConnected(const Deadline& deadline);
    bool AwaitResult(const Deadline& deadline);
    bool TakeResults(const Deadline& deadline, SqlRows* rows);
    // Fails with why; lostConnection: the connection is given up.
    bool Fail(const std::string& why, bool lostConnection);
    bool FailWithReason(bool lostConnection);

    std::string address;
    PGconn* connection = nullptr;
    std::string error;
    bool lost = false;
};
