#include "app/database/PostgresTable.h"

#include <string>

namespace {

// Whether a schema of the search path holds a relation of the table's
// name; false when that could not be asked. The catalog is read as a query
// reads it (each statement sees what was committed before it), never
// through the session's caches of names, which may not yet know of a table
// another session has just made.
bool Found(PostgresConnection& connection, const TableRecipe& table, const Deadline& deadline,
           bool& found) {
    SqlRows rows;
    if (!connection.Run("SELECT EXISTS (SELECT 1 FROM pg_catalog.pg_class c JOIN "
                        "pg_catalog.pg_namespace n ON n.oid = c.relnamespace WHERE c.relname = "
                        "$1 AND n.nspname = ANY (pg_catalog.current_schemas(false)))",
                        {table.name}, deadline, &rows)) {
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
