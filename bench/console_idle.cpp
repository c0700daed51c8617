// Idle load of console mode: the program with a silent board and nobody
// typing, measured side by side with a bare loop that only waits 10 ms for a
// pseudo-terminal of the same kind in each turn.
//
// Usage: console_idle [seconds per round] [rounds]   (default 10 s, 3 rounds)
// Prints, per round, both CPU times, their ratio and the wake-ups per second
// of each; exits 1 when the median ratio is above 1.2 or console mode wakes
// more often than the bare loop (plus 5 %).

#include <sys/select.h>

#include <algorithm>
#include <vector>

#include "bench/console_child.h"

namespace {

constexpr int kTurnWaitMs = 10;
constexpr double kAllowedRatio = 1.2;
constexpr double kAllowedExtraWakeups = 1.05;

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

struct Sample {
    int64_t cpuNs = 0;
    int64_t wakeups = 0;
};

Sample Take(pid_t pid) {
    return Sample{console_bench::CpuNanoseconds(pid), console_bench::Wakeups(pid)};
}

}  // namespace

int main(int argumentCount, char** arguments) {
    const int seconds = argumentCount > 1 ? std::atoi(arguments[1]) : 10;
    const int rounds = argumentCount > 2 ? std::atoi(arguments[2]) : 3;
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

    std::vector<double> ratios;
    bool wakesTooOften = false;
    for (int round = 0; round < rounds; ++round) {
        const Sample consoleStart = Take(console.pid);
        const Sample bareStart = Take(bare);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const Sample consoleEnd = Take(console.pid);
        const Sample bareEnd = Take(bare);
        const double consoleCpu = static_cast<double>(consoleEnd.cpuNs - consoleStart.cpuNs);
        const double bareCpu = static_cast<double>(bareEnd.cpuNs - bareStart.cpuNs);
        const double consoleWakes = static_cast<double>(consoleEnd.wakeups - consoleStart.wakeups);
        const double bareWakes = static_cast<double>(bareEnd.wakeups - bareStart.wakeups);
        const double window = seconds * 1e9;
        ratios.push_back(consoleCpu / bareCpu);
        wakesTooOften = wakesTooOften || consoleWakes > kAllowedExtraWakeups * bareWakes;
        std::printf(
            "round %d, %d s idle: console mode %.2f ms CPU (%.3f %% of a core, %.0f wake-ups/s), "
            "bare 10 ms loop %.2f ms (%.3f %%, %.0f wake-ups/s), ratio %.2f\n",
            round + 1, seconds, consoleCpu / 1e6, 100.0 * consoleCpu / window,
            consoleWakes / seconds, bareCpu / 1e6, 100.0 * bareCpu / window, bareWakes / seconds,
            ratios.back());
    }
    console_bench::StopChild(console.pid);
    console_bench::StopChild(bare);

    std::sort(ratios.begin(), ratios.end());
    const double median = ratios[ratios.size() / 2];
    std::printf("median ratio %.2f (allowed %.2f)%s\n", median, kAllowedRatio,
                wakesTooOften ? "; console mode woke more often than the bare loop" : "");
    return median <= kAllowedRatio && !wakesTooOften ? 0 : 1;
}
