#include "app/database/PostgresConnection.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/database/SocketWait.h"

namespace {

// The longest single wait on the socket; a deadline never started is waited
// for slice by slice.
constexpr uint32_t kWaitSliceMs = 1000;
// libpq's own least connect_timeout.
constexpr uint64_t kLeastConnectTimeoutMs = 2000;

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

std::string WithoutLastLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

// The address's connect_timeout in ms; 0 when it has none.
uint64_t ConnectTimeoutMs(PGconn* connection) {
    PQconninfoOption* options = PQconninfo(connection);
    uint64_t timeoutMs = 0;
    for (PQconninfoOption* option = options; option != nullptr && option->keyword != nullptr;
         ++option) {
        if (std::strcmp(option->keyword, "connect_timeout") == 0 && option->val != nullptr) {
            const long seconds = std::atol(option->val);
            timeoutMs = seconds > 0 ? std::max<uint64_t>(static_cast<uint64_t>(seconds) * 1000,
                                                         kLeastConnectTimeoutMs)
                                    : 0;
        }
    }
    PQconninfoFree(options);
    return timeoutMs;
}

// Whichever of the two passes first.
struct EarlierOf {
    const Deadline& first;
    const Deadline& second;
    bool Passed() const { return first.Passed() || second.Passed(); }
    uint32_t RemainingMs() const {
        return std::min(first.RemainingMs(kWaitSliceMs), second.RemainingMs(kWaitSliceMs));
    }
};

}  // namespace

PostgresConnection::PostgresConnection(std::string connectionAddress)
    : address(std::move(connectionAddress)) {}

PostgresConnection::~PostgresConnection() {
    Drop();
}

void PostgresConnection::Drop() {
    PQfinish(connection);
    connection = nullptr;
}

bool PostgresConnection::Fail(const std::string& why, bool lostConnection) {
    error = WithoutLastLineEnd(why);
    lost = lostConnection;
    if (lostConnection) {
        Drop();
    }
    return false;
}

bool PostgresConnection::FailWithReason(bool lostConnection) {
    return Fail(connection != nullptr ? PQerrorMessage(connection) : "out of memory",
                lostConnection);
}

bool PostgresConnection::Connect(const Deadline& deadline) {
    if (connection != nullptr) {
        return true;
    }
    connection = PQconnectStart(address.c_str());
    if (connection == nullptr || PQstatus(connection) == CONNECTION_BAD) {
        return FailWithReason(true);
    }
    if (!AwaitConnected(deadline)) {
        return false;
    }
    PQsetNoticeProcessor(connection, IgnoreNotice, nullptr);
    return true;
}

// libpq's non-blocking connection: each step says which way to wait next.
bool PostgresConnection::AwaitConnected(const Deadline& deadline) {
    Deadline timeout;
    const uint64_t timeoutMs = ConnectTimeoutMs(connection);
    if (timeoutMs != 0) {
        timeout.StartOnce(timeoutMs);
    }
    const EarlierOf limit{deadline, timeout};
    PostgresPollingStatusType status = PGRES_POLLING_WRITING;
    while (status != PGRES_POLLING_OK) {
        if (status == PGRES_POLLING_FAILED) {
            return FailWithReason(true);
        }
        if (limit.Passed()) {
            return Fail("the server did not answer in time", true);
        }
        const SocketWait wait = WaitForSocket(PQsocket(connection), status == PGRES_POLLING_WRITING,
                                              limit.RemainingMs());
        if (wait == SocketWait::Failed) {
            return Fail(std::string("cannot wait for the server: ") + std::strerror(errno), true);
        }
        if (wait == SocketWait::Ready) {
            status = PQconnectPoll(connection);
        }
    }
    return true;
}

bool PostgresConnection::Run(const char* sql, const std::vector<SqlParameter>& parameters,
                             const Deadline& deadline, SqlRows* rows) {
    if (!Connect(deadline)) {
        return false;
    }
    std::vector<const char*> values;
    for (const SqlParameter& parameter : parameters) {
        values.push_back(parameter.null ? nullptr : parameter.text.c_str());
    }
    if (PQsendQueryParams(connection, sql, static_cast<int>(values.size()), nullptr, values.data(),
                          nullptr, nullptr, 0) == 0) {
        return FailWithReason(PQstatus(connection) == CONNECTION_BAD);
    }
    return AwaitResult(deadline) && TakeResults(deadline, rows);
}

bool PostgresConnection::AwaitResult(const Deadline& deadline) {
    while (PQisBusy(connection) != 0) {
        if (deadline.Passed()) {
            return Fail("the server did not answer in time", true);
        }
        const SocketWait wait =
            WaitForSocket(PQsocket(connection), false, deadline.RemainingMs(kWaitSliceMs));
        if (wait == SocketWait::Failed) {
            return Fail(std::string("cannot wait for the server: ") + std::strerror(errno), true);
        }
        if (PQconsumeInput(connection) == 0) {
            return FailWithReason(true);
        }
    }
    return true;
}

// Every result of the statement is taken (libpq wants them all); the first
// that failed decides.
bool PostgresConnection::TakeResults(const Deadline& deadline, SqlRows* rows) {
    if (rows != nullptr) {
        rows->clear();
    }
    std::string failure;
    for (;;) {
        const Result result(PQgetResult(connection));
        if (result.get() == nullptr) {
            break;
        }
        const ExecStatusType status = PQresultStatus(result.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && failure.empty()) {
            failure = PQresultErrorMessage(result.get());
            failure = failure.empty() ? PQerrorMessage(connection) : failure;
        }
        for (int row = 0; rows != nullptr && row < PQntuples(result.get()); ++row) {
            rows->emplace_back();
            for (int column = 0; column < PQnfields(result.get()); ++column) {
                rows->back().emplace_back(PQgetvalue(result.get(), row, column));
            }
        }
        if (!AwaitResult(deadline)) {
            return false;
        }
    }
    if (!failure.empty()) {
        return Fail(failure, PQstatus(connection) == CONNECTION_BAD);
    }
    return true;
}
