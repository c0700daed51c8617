// Idle load of console mode: the program with a silent board and nobody
// typing, measured side by side with a bare loop that only waits 10 ms for a
// pseudo-terminal of the same kind in each turn.
//
// Usage: console_idle [seconds]   (default 10)
// Prints both CPU times and their ratio; exits 1 when console mode uses more
// than 1.2 times the bare loop (plus 1 ms of measuring noise).

#include <poll.h>
#include <sys/select.h>

#include "bench/console_child.h"

namespace {

constexpr int kTurnWaitMs = 10;
constexpr double kAllowedRatio = 1.2;
constexpr int64_t kNoiseNs = 1000000;

// The reference: one 10 ms wait on the pseudo-terminal per turn, as a read
// with a 10 ms time-out does when nothing comes.
[[noreturn]] void BareLoop(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    for (;;) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(fd, &ready);
        timeval limit{0, kTurnWaitMs * 1000};
        select(fd + 1, &ready, nullptr, nullptr, &limit);
    }
}

}  // namespace

int main(int argumentCount, char** arguments) {
    const int seconds = argumentCount > 1 ? std::atoi(arguments[1]) : 10;
    sim::PseudoTerminal consolePort;
    sim::PseudoTerminal barePort;
    sim::PseudoTerminal keyboard(true, false);

    const pid_t bare = fork();
    if (bare == 0) {
        BareLoop(barePort.SlavePath());
    }
    console_bench::ConsoleChild console =
        console_bench::StartConsole(consolePort.SlavePath(), keyboard.SlavePath());
    std::string seen;
    if (!console_bench::ReadUntil(console.stdoutFd, "Entering Console mode...\n", seen)) {
        std::fprintf(stderr, "console mode did not start:\n%s\n", seen.c_str());
        return 2;
    }

    const int64_t consoleStart = console_bench::CpuNanoseconds(console.pid);
    const int64_t bareStart = console_bench::CpuNanoseconds(bare);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const int64_t consoleNs = console_bench::CpuNanoseconds(console.pid) - consoleStart;
    const int64_t bareNs = console_bench::CpuNanoseconds(bare) - bareStart;
    console_bench::StopChild(console.pid);
    console_bench::StopChild(bare);

    const double window = seconds * 1e9;
    const double consoleCpu = static_cast<double>(consoleNs);
    const double bareCpu = static_cast<double>(bareNs);
    std::printf(
        "idle over %d s: console mode %.2f ms CPU (%.3f %% of a core), "
        "bare 10 ms loop %.2f ms (%.3f %%), ratio %.2f\n",
        seconds, consoleCpu / 1e6, 100.0 * consoleCpu / window, bareCpu / 1e6,
        100.0 * bareCpu / window, bareNs > 0 ? consoleCpu / bareCpu : 0.0);
    return consoleCpu <= kAllowedRatio * bareCpu + static_cast<double>(kNoiseNs) ? 0 : 1;
}
