#pragma once
// Waiting on a database connection's socket with a time limit, so that the
// program keeps its own deadline while libpq works without blocking. One
// implementation, for the systems whose builds have PostgreSQL
// (DatabaseSocketPosix.cpp).

enum class DatabaseSocketWait { Ready, TimedOut, Failed };

// Waits until socket can be read (forWriting false), or read or written
// (forWriting true: a query that is being sent may have to take the
// server's answers in between), or timeoutMs have passed; a signal does not
// cut the wait short.
DatabaseSocketWait WaitForDatabaseSocket(int socket, bool forWriting, int timeoutMs);
