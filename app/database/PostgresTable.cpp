#include "app/database/PostgresTable.h"

#include <string>

namespace {

// Whether the table's name resolves on the search path; false when that
// could not be asked.
bool Found(PostgresConnection& connection, const TableRecipe& table, const Deadline& deadline,
           bool& found) {
    SqlRows rows;
    if (!connection.Run("SELECT to_regclass($1) IS NOT NULL", {table.name}, deadline, &rows)) {
        return false;
    }
    found = !rows.empty() && rows[0][0] == "t";
    return true;
}

bool MakeUnderLock(PostgresConnection& connection, const TableRecipe& table,
                   const Deadline& deadline) {
    bool found = false;
    return connection.Run("BEGIN", {}, deadline) &&
           connection.Run("SELECT pg_advisory_xact_lock($1)", {std::to_string(table.lockKey)},
                          deadline) &&
           Found(connection, table, deadline, found) &&
           (found || connection.Run(table.create, {}, deadline)) &&
           connection.Run("COMMIT", {}, deadline);
}

}  // namespace

bool EnsureTable(PostgresConnection& connection, const TableRecipe& table,
                 const Deadline& deadline) {
    bool found = false;
    if (!Found(connection, table, deadline, found)) {
        return false;
    }
    if (found || MakeUnderLock(connection, table, deadline)) {
        return true;
    }
    // The transaction ends with the connection; Error() keeps why.
    connection.Drop();
    return false;
}
