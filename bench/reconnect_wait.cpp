// CPU of a console waiting for its port to come back: the program in console
// mode with --reconnect on a simulated board whose port has gone away,
// measured over a wait of its own length; and the cost of the system's port
// list, which a usb: name reads at every look, at the same rate.
//
// Usage: reconnect_wait [seconds]   (default 60)
// Prints the CPU time of the wait and its share of a core; exits 1 when the
// share is 0.5 % or more.

#include <sys/resource.h>

#include <filesystem>

#include "bench/console_child.h"
#include "protocol/Console.h"
#include "serial/PortList.h"
#include "sim/Board.h"

namespace {

constexpr double kGoalPercent = 0.5;

int64_t OwnCpuNanoseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (static_cast<int64_t>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000 +
            usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) *
           1000;
}

}  // namespace

int main(int argumentCount, char** arguments) {
    const int seconds = argumentCount > 1 ? std::atoi(arguments[1]) : 60;
    sim::BoardConfig config;
    config.loaderProtocol = false;
    sim::Board board(config);
    board.Start();
    char directory[] = "/tmp/reconnect-wait-XXXXXX";
    if (mkdtemp(directory) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string link = std::string(directory) + "/port";
    board.LinkAt(link);
    sim::PseudoTerminal keyboard(true, false);
    const console_bench::ConsoleChild console =
        console_bench::StartConsole(link, keyboard.SlavePath(), "--reconnect");
    std::string seen;
    if (!console_bench::ReadUntil(console.stdoutFd, "Entering Console mode...\n", seen)) {
        std::fprintf(stderr, "console mode did not start:\n%s\n", seen.c_str());
        return 2;
    }
    board.Vanish();
    if (!console_bench::ReadUntil(console.stdoutFd, "waiting for it to come back", seen)) {
        std::fprintf(stderr, "the console did not notice:\n%s\n", seen.c_str());
        return 2;
    }
    const int64_t start = console_bench::CpuNanoseconds(console.pid);
    const int64_t wakeStart = console_bench::Wakeups(console.pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const int64_t used = console_bench::CpuNanoseconds(console.pid) - start;
    const int64_t wakeups = console_bench::Wakeups(console.pid) - wakeStart;
    console_bench::StopChild(console.pid);
    std::filesystem::remove_all(directory);

    const double window = seconds * 1e9;
    const double percent = 100.0 * static_cast<double>(used) / window;
    std::printf("waiting %d s for a port by its path: %.2f ms CPU, %.4f %% of a core, "
                "%.1f wake-ups/s (goal under %.1f %%)\n",
                seconds, static_cast<double>(used) / 1e6, percent,
                static_cast<double>(wakeups) / seconds, kGoalPercent);

    // A usb: name lists the system's ports at every look.
    const int looks = seconds * 1000 / static_cast<int>(kReconnectUsbPollMs);
    const int64_t listStart = OwnCpuNanoseconds();
    size_t listed = 0;
    for (int i = 0; i < looks; ++i) {
        listed += ListSerialPorts().size();
    }
    const double listPercent = 100.0 * static_cast<double>(OwnCpuNanoseconds() - listStart) / window;
    std::printf("listing the ports %d times (%zu ports each), as a usb: name's wait of %d s "
                "does: %.4f %% of a core\n",
                looks, looks > 0 ? listed / static_cast<size_t>(looks) : 0, seconds, listPercent);
    std::printf("a usb: name's wait: at most %.4f %% of a core\n", percent + listPercent);
    return percent < kGoalPercent && percent + listPercent < kGoalPercent ? 0 : 1;
}
