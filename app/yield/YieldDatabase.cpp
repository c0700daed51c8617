// The yield summary's reading of the factory's table of records through
// libpq, row by row (libpq's single-row mode), so that a table of any size
// is never held whole.
#include <libpq-fe.h>

#include <memory>
#include <string>
#include <vector>

#include "app/records/RecordFile.h"
#include "app/yield/YieldMessages.h"
#include "app/yield/YieldSources.h"
#include "app/yield/YieldTime.h"
#include "errors/FatalError.h"

namespace {

struct Connection {
    PGconn* pg = nullptr;
    ~Connection() { PQfinish(pg); }
};

struct Result {
    PGresult* pg = nullptr;
    ~Result() { PQclear(pg); }
};

// libpq's reasons end in a line end and may have a second line.
std::string Reason(const char* text) {
    std::string reason;
    for (const char* c = text != nullptr ? text : ""; *c != '\0'; ++c) {
        const bool blank = *c == '\n' || *c == '\r' || *c == '\t';
        if (!blank) {
            reason += *c;
        } else if (!reason.empty() && reason.back() != ' ') {
            reason += ' ';
        }
    }
    while (!reason.empty() && reason.back() == ' ') {
        reason.pop_back();
    }
    return reason;
}

[[noreturn]] void CannotRead(const std::string& url, const std::string& why) {
    FatalError(messages::kCannotReadSourceFormat, ShownSource(url).c_str(), why.c_str());
}

// ISO 8601 of a filter's time, as the database takes it.
std::string DatabaseTime(int64_t milliseconds) {
    return SecondText(milliseconds) + "+00";
}

void IgnoreNotice(void* /*context*/, const char* /*message*/) {}

void SendQuery(PGconn* pg, const std::string& url, const YieldFilters& filters) {
    std::string sql = "SELECT record_id::text, record::text FROM vantoir_records WHERE true";
    std::vector<std::string> values;
    if (filters.since) {
        values.push_back(DatabaseTime(*filters.since));
        sql += " AND started >= $" + std::to_string(values.size());
    }
    if (filters.until) {
        values.push_back(DatabaseTime(*filters.until));
        sql += " AND started < $" + std::to_string(values.size());
    }
    std::vector<const char*> parameters;
    for (const std::string& value : values) {
        parameters.push_back(value.c_str());
    }
    if (PQsendQueryParams(pg, sql.c_str(), static_cast<int>(parameters.size()), nullptr,
                          parameters.data(), nullptr, nullptr, 0) != 1 ||
        PQsetSingleRowMode(pg) != 1) {
        CannotRead(url, Reason(PQerrorMessage(pg)));
    }
}

void TakeRow(PGresult* row, const std::string& url, YieldSet& set, SkippedRecords& skipped) {
    static const std::set<std::string> keys = YieldSet::Keys();
    RecordLine line;
    line.bytes.assign(PQgetvalue(row, 0, 1), static_cast<size_t>(PQgetlength(row, 0, 1)));
    line.ended = true;
    ParseRecordLine(line, keys);
    // The table names each record; its record jsonb may have no record_id.
    const std::string id = PQgetvalue(row, 0, 0);
    const std::string why =
        line.state == RecordLineState::Object || line.state == RecordLineState::BadRecordId
            ? set.Add(line.value, id)
            : RecordLineStateText(line.state);
    if (!why.empty()) {
        skipped.SayRow(url, id, why);
    }
}

}  // namespace

void ReadRecordDatabase(const std::string& url, const YieldFilters& filters, YieldSet& set,
                        SkippedRecords& skipped) {
    Connection connection;
    connection.pg = PQconnectdb(url.c_str());
    if (connection.pg == nullptr || PQstatus(connection.pg) != CONNECTION_OK) {
        CannotRead(url, connection.pg != nullptr ? Reason(PQerrorMessage(connection.pg))
                                                 : std::string("out of memory"));
    }
    PQsetNoticeProcessor(connection.pg, IgnoreNotice, nullptr);
    SendQuery(connection.pg, url, filters);
    for (;;) {
        Result result;
        result.pg = PQgetResult(connection.pg);
        if (result.pg == nullptr) {
            break;
        }
        const ExecStatusType status = PQresultStatus(result.pg);
        if (status == PGRES_SINGLE_TUPLE) {
            TakeRow(result.pg, url, set, skipped);
        } else if (status != PGRES_TUPLES_OK) {
            CannotRead(url, Reason(PQresultErrorMessage(result.pg)));
        }
    }
}
