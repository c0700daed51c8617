#pragma once
// Waiting, bounded, for the socket of a database connection to be ready:
// the one thing a connection that keeps its own deadlines needs of the
// system. One implementation per platform (SocketWaitPosix.cpp); the builds
// without PostgreSQL build none.

#include <cstdint>

enum class SocketWait {
    Ready,     // ready to read (or to write), or the wait was cut short by a signal
    TimedOut,  // nothing within the time given
    Failed,    // the wait itself failed
};

// Waits up to timeoutMs for socket to be ready to read, or with forWriting
// to write.
SocketWait WaitForSocket(int socket, bool forWriting, uint32_t timeoutMs);
