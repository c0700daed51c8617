// A gang of ports against one: the real vantoir downloads a 100 KB image to
// kelvor-sim boards that pace a 115200-baud line, first to one board on its
// own, then with --gang to all of them at once (eight unless told; its
// output once to /dev/null, as through a pipe, and once to a
// pseudo-terminal, where it redraws its status block).
//
// Usage: gang_bench [boards (default 8) [rounds (default 3)]]
//
// Each round runs all of these on fresh boards. Reports the whole time of
// each run (from starting vantoir to its end), the gang's time against the
// single board's (medians over the rounds), the same number of plain runs
// started at once for comparison (what the machine's load does to that many
// paced boards, without the gang), and the CPU time of the gang's own
// process (not of its runs) against the gang's time (the worst round). Exits with status 1
// when a goal is missed (each is named on standard error) or the
// measurement fails, 0 when every goal is met.

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sim/Board.h"
#include "sim/HexRecord.h"

namespace {

constexpr uint32_t kPacedBaud = 115200;
constexpr size_t kImageBytes = 100 * 1024;
constexpr int kBytesPerRecord = 32;
// The goals: the gang at most this much slower than one board; the gang's
// own process busy for less than this share of its time.
constexpr double kTimeRatioGoal = 1.02;
constexpr double kParentCpuGoal = 0.01;

using Clock = std::chrono::steady_clock;

std::string MakeImage(const std::string& directory) {
    const size_t lineBytes = sim::MakeHexFile(2, kBytesPerRecord, 1).size() -
                             sim::MakeHexFile(1, kBytesPerRecord, 1).size();
    const std::string text =
        sim::MakeHexFile(static_cast<int>(kImageBytes / lineBytes + 1), kBytesPerRecord, 7);
    const std::string path = directory + "/image.hex";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

struct Measured {
    double seconds = 0;     // whole time
    double cpuSeconds = 0;  // of the process itself, without its children
};

// The CPU time the ended (not yet reaped) process used itself, without the
// times of its children that the kernel adds to what wait4 reports: the time
// on the CPU in /proc/PID/schedstat (nanoseconds; the gang is one thread),
// or else utime and stime of /proc/PID/stat (clock ticks).
double OwnCpuSeconds(pid_t pid) {
    std::ifstream schedstat("/proc/" + std::to_string(pid) + "/schedstat");
    long long nanoseconds = 0;
    if (schedstat >> nanoseconds) {
        return static_cast<double>(nanoseconds) / 1e9;
    }
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long long ticks = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        ticks += number >= 14 ? std::atoll(field.c_str()) : 0;
    }
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Starts vantoir with args, its output to outputFd.
pid_t StartVantoir(const std::vector<std::string>& args, int outputFd) {
    std::vector<char*> argv = {const_cast<char*>(VANTOIR_BINARY)};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outputFd, 1);
        dup2(outputFd, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Runs vantoir with args, its output to outputFd, and measures it.
Measured RunVantoir(const std::vector<std::string>& args, int outputFd) {
    const auto start = Clock::now();
    const pid_t pid = StartVantoir(args, outputFd);
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
        throw std::runtime_error("waitid failed");
    }
    Measured measured;
    measured.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    measured.cpuSeconds = OwnCpuSeconds(pid);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("vantoir did not end with status 0");
    }
    return measured;
}

std::vector<std::unique_ptr<sim::Board>> StartBoards(int count) {
    sim::BoardConfig config;
    config.baudRate = kPacedBaud;
    config.expectStart = false;
    std::vector<std::unique_ptr<sim::Board>> boards;
    for (int i = 0; i < count; ++i) {
        boards.push_back(std::make_unique<sim::Board>(config));
        boards.back()->Start();
    }
    return boards;
}

void CheckBoards(const std::vector<std::unique_ptr<sim::Board>>& boards) {
    for (const auto& board : boards) {
        if (!board->Summary().countMatched) {
            throw std::runtime_error("a board's count did not match");
        }
    }
}

std::vector<std::string> GangArgs(const std::vector<std::unique_ptr<sim::Board>>& boards,
                                  const std::string& image) {
    std::string list;
    for (const auto& board : boards) {
        list += (list.empty() ? "" : ",") + board->SlavePath();
    }
    return {"--gang", list, "-F", image, "-L", "-B", std::to_string(kPacedBaud)};
}

// A pseudo-terminal for the gang's output, its screen read (and dropped) by
// a thread of its own.
class Screen {
  public:
    Screen() {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        reader = std::thread([this] {
            char buffer[4096];
            while (read(master, buffer, sizeof buffer) > 0) {
            }
        });
    }
    ~Screen() {
        close(slave);
        close(master);
        reader.join();
    }
    int Slave() const { return slave; }

  private:
    int master = -1;
    int slave = -1;
    std::thread reader;
};

void ReportGoal(const char* what, bool met, int& missed) {
    if (!met) {
        std::fprintf(stderr, "gang_bench: goal missed: %s\n", what);
        ++missed;
    }
}

std::vector<std::string> PlainArgs(const sim::Board& board, const std::string& image) {
    return {"-P", board.SlavePath(), "-F", image, "-L", "-B", std::to_string(kPacedBaud)};
}

// Plain runs, one per board, all at once: the whole time until the last ends.
double RunPlainAtOnce(const std::vector<std::unique_ptr<sim::Board>>& boards,
                      const std::string& image, int outputFd) {
    const auto start = Clock::now();
    std::vector<pid_t> pids;
    for (const auto& board : boards) {
        pids.push_back(StartVantoir(PlainArgs(*board, image), outputFd));
    }
    for (pid_t pid : pids) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            throw std::runtime_error("a plain run did not end with status 0");
        }
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Round {
    Measured one;
    Measured gang;        // output to /dev/null
    Measured onTerminal;  // output to a pseudo-terminal
    double plainAtOnce = 0;
};

// One of each, every one on fresh boards.
Round MeasureRound(const std::string& image, int count, int devNull) {
    Round round;
    auto single = StartBoards(1);
    round.one = RunVantoir(PlainArgs(*single[0], image), devNull);
    CheckBoards(single);
    auto piped = StartBoards(count);
    round.gang = RunVantoir(GangArgs(piped, image), devNull);
    CheckBoards(piped);
    auto shown = StartBoards(count);
    {
        Screen screen;
        round.onTerminal = RunVantoir(GangArgs(shown, image), screen.Slave());
    }
    CheckBoards(shown);
    auto plain = StartBoards(count);
    round.plainAtOnce = RunPlainAtOnce(plain, image, devNull);
    CheckBoards(plain);
    return round;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int Measure(const std::string& image, int count, int runs) {
    const int devNull = open("/dev/null", O_WRONLY);
    std::vector<double> one, gang, onTerminal, plain, cpuShare;
    for (int run = 0; run < runs; ++run) {
        const Round round = MeasureRound(image, count, devNull);
        one.push_back(round.one.seconds);
        gang.push_back(round.gang.seconds);
        onTerminal.push_back(round.onTerminal.seconds);
        plain.push_back(round.plainAtOnce);
        cpuShare.push_back(round.gang.cpuSeconds / round.gang.seconds);
        cpuShare.push_back(round.onTerminal.cpuSeconds / round.onTerminal.seconds);
        std::printf(
            "round %d: one %.3f s, gang %.3f s (terminal %.3f s), %d plain runs at once "
            "%.3f s; gang CPU %.4f s (terminal %.4f s)\n",
            run + 1, round.one.seconds, round.gang.seconds, round.onTerminal.seconds, count,
            round.plainAtOnce, round.gang.cpuSeconds, round.onTerminal.cpuSeconds);
    }
    close(devNull);
    const double ratio = Median(gang) / Median(one);
    const double terminalRatio = Median(onTerminal) / Median(one);
    const double worstCpu = *std::max_element(cpuShare.begin(), cpuShare.end());
    std::printf("image %zu bytes, boards paced at %u baud; medians of %d rounds\n", kImageBytes,
                kPacedBaud, runs);
    std::printf("one board:                        %.3f s\n", Median(one));
    std::printf("gang of %d, output to a pipe:     %.3f s, %.3fx one board (goal <= %.2fx)\n",
                count, Median(gang), ratio, kTimeRatioGoal);
    std::printf("gang of %d, output to a terminal: %.3f s, %.3fx one board\n", count,
                Median(onTerminal), terminalRatio);
    std::printf("%d plain runs at once:            %.3f s, %.3fx one board\n", count, Median(plain),
                Median(plain) / Median(one));
    std::printf("gang process CPU: at most %.3f%% of its time (goal < %.0f%%)\n", 100 * worstCpu,
                100 * kParentCpuGoal);
    int missed = 0;
    ReportGoal("gang time", ratio <= kTimeRatioGoal && terminalRatio <= kTimeRatioGoal, missed);
    ReportGoal("gang process CPU", worstCpu < kParentCpuGoal, missed);
    return missed;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 8;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    char directory[] = "/tmp/vantoir-gang-bench-XXXXXX";
    if (count < 1 || runs < 1 || mkdtemp(directory) == nullptr) {
        std::fprintf(stderr, "usage: gang_bench [boards [rounds]]\n");
        return 1;
    }
    const std::string image = MakeImage(directory);
    int missed = 0;
    try {
        missed = Measure(image, count, runs);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "gang_bench: %s\n", error.what());
        missed = 1;
    }
    std::remove(image.c_str());
    rmdir(directory);
    return missed == 0 ? 0 : 1;
}
