// Board output in console mode at full pseudo-terminal speed: a board sends
// a block of pseudo-random bytes (all 256 values) as fast as the line takes
// them; the program's standard output must carry them completely and in
// order.
//
// Usage: console_output [megabytes]   (default 8)
// Prints the time and rate; exits 1 if anything was lost, added or reordered.

#include <poll.h>

#include <vector>

#include "bench/console_child.h"

namespace {

const std::string kBanner = "Entering Console mode...\n";
constexpr int kSilenceGuardMs = 5000;

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

// Writes all of bytes to the (non-blocking) master, waiting for room.
void SendAll(int master, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = write(master, bytes.data() + sent, bytes.size() - sent);
        if (count > 0) {
            sent += static_cast<size_t>(count);
            continue;
        }
        pollfd entry{master, POLLOUT, 0};
        poll(&entry, 1, 1000);
    }
}

}  // namespace

int main(int argumentCount, char** arguments) {
    const size_t megabytes = argumentCount > 1 ? std::strtoul(arguments[1], nullptr, 10) : 8;
    const std::string payload = Pattern(megabytes << 20);
    sim::PseudoTerminal port;
    sim::PseudoTerminal keyboard(true, false);
    console_bench::ConsoleChild console =
        console_bench::StartConsole(port.SlavePath(), keyboard.SlavePath());
    std::string seen;
    if (!console_bench::ReadUntil(console.stdoutFd, kBanner, seen)) {
        std::fprintf(stderr, "console mode did not start:\n%s\n", seen.c_str());
        return 2;
    }
    const size_t start = seen.find(kBanner) + kBanner.size();
    const auto begin = std::chrono::steady_clock::now();
    std::thread board(SendAll, port.MasterFd(), std::cref(payload));

    std::string shown = seen.substr(start);
    std::vector<char> buffer(1 << 16);
    while (shown.size() < payload.size()) {
        // Bytes that never come (lost ones) end the wait after a long silence.
        pollfd entry{console.stdoutFd, POLLIN, 0};
        if (poll(&entry, 1, kSilenceGuardMs) <= 0) {
            break;
        }
        const ssize_t count = read(console.stdoutFd, buffer.data(), buffer.size());
        if (count <= 0) {
            break;
        }
        shown.append(buffer.data(), static_cast<size_t>(count));
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    board.join();
    console_bench::StopChild(console.pid);

    const bool intact = shown == payload;
    std::printf("%zu MB of board output shown in %.2f s (%.1f MB/s), %s\n", megabytes, elapsed,
                static_cast<double>(megabytes) / elapsed,
                intact ? "complete and in order" : "DAMAGED");
    if (!intact) {
        size_t first = 0;
        while (first < shown.size() && first < payload.size() && shown[first] == payload[first]) {
            ++first;
        }
        std::printf("shown %zu of %zu bytes; first difference at byte %zu\n", shown.size(),
                    payload.size(), first);
    }
    return intact ? 0 : 1;
}
