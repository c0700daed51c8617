#pragma once
// EnsureTable: a table the program keeps in a database is made only when it
// is missing, so that a role that may only use it (SELECT, INSERT, UPDATE on
// the table, no CREATE on its schema) never needs more; PostgreSQL refuses
// even CREATE TABLE IF NOT EXISTS to such a role, table or no table.
//
// The table is looked for in the schemas of the connection's search path,
// in the catalog (which needs no right on the table). When it is missing it
// is made in a transaction that first takes the advisory lock lockKey and
// looks again: of several stations that start at once, one makes it, and
// the others, waiting on the lock, then find it made. Every table the
// program makes is made this way.

#include <cstdint>

#include "app/database/PostgresConnection.h"
#include "protocol/Deadline.h"

struct TableRecipe {
    const char* name;    // as the statements name it
    const char* create;  // CREATE TABLE name (...)
    int64_t lockKey;     // the advisory lock under which it is made
};

// Whether the table is there now (made here or found); false with why in
// connection.Error(), a transaction of its own rolled back.
bool EnsureTable(PostgresConnection& connection, const TableRecipe& table,
                 const Deadline& deadline);
