#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include "serial/StandardInput.h"

namespace {

constexpr size_t kReadChunkBytes = 512;

}  // namespace

// A signal ends poll at once (it is never restarted), so a request that
// comes during the wait is seen at once.
InputRead ReadStandardInput(std::string& bytes, uint32_t waitMs) {
    pollfd input{};
    input.fd = STDIN_FILENO;
    input.events = POLLIN;
    if (poll(&input, 1, static_cast<int>(waitMs)) <= 0) {
        return InputRead::Waiting;
    }
    char chunk[kReadChunkBytes];
    const ssize_t count = read(STDIN_FILENO, chunk, sizeof chunk);
    if (count > 0) {
        bytes.append(chunk, static_cast<size_t>(count));
        return InputRead::Bytes;
    }
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
        return InputRead::Waiting;
    }
    return InputRead::Ended;
}

bool StandardInputIsTerminal() {
    return isatty(STDIN_FILENO) != 0;
}
