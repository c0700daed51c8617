#include <errno.h>
#include <poll.h>

#include <chrono>

#include "app/factory/DatabaseSocket.h"

DatabaseSocketWait WaitForDatabaseSocket(int socket, bool forWriting, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        pollfd entry{socket, static_cast<short>(forWriting ? POLLOUT | POLLIN : POLLIN), 0};
        const int ready = poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
        if (ready > 0) {
            return DatabaseSocketWait::Ready;
        }
        if (ready == 0) {
            return DatabaseSocketWait::TimedOut;
        }
        if (errno != EINTR) {
            return DatabaseSocketWait::Failed;
        }
    }
}
