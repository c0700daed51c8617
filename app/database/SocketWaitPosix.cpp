#include <errno.h>
#include <poll.h>

#include "app/database/SocketWait.h"

SocketWait WaitForSocket(int socket, bool forWriting, uint32_t timeoutMs) {
    pollfd watched = {};
    watched.fd = socket;
    watched.events = forWriting ? POLLOUT : POLLIN;
    const int ready = poll(&watched, 1, static_cast<int>(timeoutMs));
    if (ready < 0) {
        // A signal (an interrupt the caller looks at): the caller asks again.
        return errno == EINTR ? SocketWait::Ready : SocketWait::Failed;
    }
    return ready == 0 ? SocketWait::TimedOut : SocketWait::Ready;
}
