// vantoir against boards that misbehave on purpose, measured from outside:
// - peak memory (the child's maximum resident set) while the board sends one
//   line without end for a while, and while it floods short "-" lines,
//   each against an ordinary complete download;
// - CPU time while polling a board that never answers, against a bare loop
//   that writes the same poll and waits the same 50 ms on a pseudo-terminal.
//
// Usage: hostile_board [memory seconds] [polling seconds]  (default 30, 10)
// Peak memory is the child's maximum resident set as the system reports it
// at its end; the polling CPU time is counted after a second of start-up.
// Exits 1 when a memory figure is more than 10 % above the ordinary run, or
// the polling costs more than 1.2 times the bare loop.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "bench/console_child.h"
#include "sim/Board.h"
#include "sim/HexRecord.h"
#include "sim/PseudoTerminal.h"

namespace {

constexpr double kAllowedMemoryRatio = 1.10;
constexpr double kAllowedCpuRatio = 1.2;
constexpr int kPollWaitMs = 50;

struct Usage {
    long maxResidentKb = 0;
    double cpuSeconds = 0;
};

std::string UploadFile() {
    const std::string path = "/tmp/vantoir-hostile-board-" + std::to_string(getpid()) + ".hex";
    std::ofstream(path) << sim::MakeHexFile(100, 16, 7);
    return path;
}

pid_t StartVantoir(const std::string& port, const std::string& file) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 0);
        dup2(devNull, 1);
        dup2(devNull, 2);
        execl(VANTOIR_BINARY, VANTOIR_BINARY, "-P", port.c_str(), "-F", file.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// Ends the child (if it still runs) and takes its resource use.
Usage Finish(pid_t pid, bool kill) {
    if (kill) {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    rusage use{};
    wait4(pid, &status, 0, &use);
    Usage usage;
    usage.maxResidentKb = use.ru_maxrss;
    usage.cpuSeconds = static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                       static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    return usage;
}

Usage OrdinaryRun(const std::string& file) {
    sim::BoardConfig config;
    sim::Board board(config);
    board.Start();
    return Finish(StartVantoir(board.SlavePath(), file), false);
}

// The board sends chunk again and again, as fast as the line takes it, for
// seconds; then the program is ended.
Usage Flood(const std::string& file, const std::string& chunk, int seconds) {
    sim::PseudoTerminal line;
    const pid_t pid = StartVantoir(line.SlavePath(), file);
    std::string block;
    while (block.size() < 64 * 1024) {
        block += chunk;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    long long sent = 0;
    while (std::chrono::steady_clock::now() < end) {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(line.MasterFd(), &writable);
        timeval limit{0, 100000};
        if (select(line.MasterFd() + 1, nullptr, &writable, nullptr, &limit) > 0) {
            const ssize_t put = write(line.MasterFd(), block.data(), block.size());
            sent += put > 0 ? put : 0;
        }
        char discard[4096];
        while (read(line.MasterFd(), discard, sizeof discard) > 0) {
        }
    }
    std::printf("  (%lld KB sent in %d s)\n", sent / 1000, seconds);
    return Finish(pid, true);
}

// One poll and one 50 ms wait per turn, as the program's silent polling.
[[noreturn]] void BarePolling(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    for (;;) {
        ssize_t ignored = write(fd, "?\r\n", 3);
        (void)ignored;
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(fd, &ready);
        timeval limit{0, kPollWaitMs * 1000};
        select(fd + 1, &ready, nullptr, nullptr, &limit);
    }
}

// Keeps both lines drained for seconds.
void Drain(const sim::PseudoTerminal& a, const sim::PseudoTerminal& b, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        char discard[4096];
        while (read(a.MasterFd(), discard, sizeof discard) > 0) {
        }
        while (read(b.MasterFd(), discard, sizeof discard) > 0) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// CPU time from the scheduler's count (nanoseconds), taken after both have
// started, so that the program's start-up is not counted.
bool SilentPolling(const std::string& file, int seconds) {
    sim::PseudoTerminal programLine;
    sim::PseudoTerminal bareLine;
    const pid_t bare = fork();
    if (bare == 0) {
        BarePolling(bareLine.SlavePath());
    }
    const pid_t program = StartVantoir(programLine.SlavePath(), file);
    Drain(programLine, bareLine, 1.0);
    const int64_t programStart = console_bench::CpuNanoseconds(program);
    const int64_t bareStart = console_bench::CpuNanoseconds(bare);
    Drain(programLine, bareLine, seconds);
    const double p = static_cast<double>(console_bench::CpuNanoseconds(program) - programStart);
    const double b = static_cast<double>(console_bench::CpuNanoseconds(bare) - bareStart);
    Finish(program, true);
    Finish(bare, true);
    const double ratio = p / (b > 0 ? b : 1);
    std::printf(
        "silent board, %d s of polling: vantoir %.1f ms CPU, bare loop %.1f ms: "
        "ratio %.2f (goal <= %.1f)\n",
        seconds, p / 1e6, b / 1e6, ratio, kAllowedCpuRatio);
    return ratio <= kAllowedCpuRatio;
}

bool Report(const char* what, const Usage& hostile, const Usage& ordinary) {
    const double ratio =
        static_cast<double>(hostile.maxResidentKb) / static_cast<double>(ordinary.maxResidentKb);
    std::printf("%s: peak %ld KB, ordinary download %ld KB: %+.1f %% (goal <= +10 %%)\n", what,
                hostile.maxResidentKb, ordinary.maxResidentKb, (ratio - 1) * 100);
    return ratio <= kAllowedMemoryRatio;
}

}  // namespace

int main(int argumentCount, char** arguments) {
    const int memorySeconds = argumentCount > 1 ? std::atoi(arguments[1]) : 30;
    const int pollingSeconds = argumentCount > 2 ? std::atoi(arguments[2]) : 10;
    signal(SIGPIPE, SIG_IGN);
    const std::string file = UploadFile();
    const Usage ordinary = OrdinaryRun(file);
    bool ok = true;
    std::printf("line without end for %d s:\n", memorySeconds);
    ok = Report("  endless line", Flood(file, std::string(4096, 'x'), memorySeconds), ordinary) &&
         ok;
    std::printf("short \"-\" lines for %d s:\n", memorySeconds);
    ok = Report("  message flood", Flood(file, "-m\r\n", memorySeconds), ordinary) && ok;
    ok = SilentPolling(file, pollingSeconds) && ok;
    std::remove(file.c_str());
    return ok ? 0 : 1;
}
