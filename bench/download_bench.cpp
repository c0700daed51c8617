// Download throughput and memory: the real vantoir against kelvor-sim on a
// pseudo-terminal, compared with a minimal loop that writes the same record
// lines, one write per line, to the same kind of pseudo-terminal.
//
// Usage: download_bench [megabytes (default 20)] [runs (default 3)]
//        download_bench --events [megabytes (default 20)] [runs (default 5)]
//
// Reports the upload time of both, as the board saw it (from the first
// record byte to the "C" command that follows the last record), their ratio,
// vantoir's peak resident memory (ru_maxrss) for a 1 MB and the large file, and the
// upload time of a 100 KB file to a board that paces a 115200-baud line
// against the line's own time for those bytes. Exits with status 1 when a
// goal is missed (each missed goal is named on standard error) or the
// measurement fails, 0 when every goal is met.
//
// With --events: the large file's upload with --events FILE against the same
// upload without it, the runs interleaved (each pair in turn in the other
// order), and their ratio (medians).

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/HexRecord.h"

namespace {

constexpr int kBytesPerRecord = 32;
constexpr int kGuardMs = 600000;
constexpr uint32_t kPacedBaud = 115200;

// The goals: vantoir's throughput at least this share of the baseline's; its
// peak memory for the large file at most this much above the 1 MB file's;
// the paced upload at most this much longer than the line's own time.
constexpr double kRatioGoal = 0.90;
constexpr double kMemoryGrowthGoal = 0.10;
constexpr double kPacedExcessGoal = 0.03;
// With --events FILE, the upload's throughput at least this share of the
// same upload's without it.
constexpr double kEventsRatioGoal = 0.98;

// This program's own path, for running itself in measure mode.
const char* selfPath = "download_bench";

struct Upload {
    double seconds = 0;
    long peakKb = 0;
    double cpuSeconds = 0;  // vantoir's own, user and system
};

struct HexFile {
    std::string path;
    std::string text;
    size_t recordBytes = 0;
};

HexFile MakeFile(const std::string& directory, const char* name, size_t bytes) {
    const size_t lineBytes = sim::MakeHexFile(2, kBytesPerRecord, 1).size() -
                             sim::MakeHexFile(1, kBytesPerRecord, 1).size();
    const int records = static_cast<int>(bytes / lineBytes + 1);
    HexFile file{directory + "/" + name, sim::MakeHexFile(records, kBytesPerRecord, 7), 0};
    file.recordBytes = file.text.size();
    std::FILE* stream = std::fopen(file.path.c_str(), "wb");
    if (stream == nullptr ||
        std::fwrite(file.text.data(), 1, file.text.size(), stream) != file.text.size()) {
        throw std::runtime_error("cannot write " + file.path);
    }
    std::fclose(stream);
    return file;
}

// Seconds from the first record byte to the "C" after recordBytes of records.
double UploadSeconds(const sim::Board& board, size_t recordBytes) {
    const std::string received = board.Received();
    const size_t first = received.find(':');
    if (first == std::string::npos || received.compare(first + recordBytes, 3, "C\r\n") != 0) {
        throw std::runtime_error("the board did not receive the records and \"C\"");
    }
    const auto span = board.ReceivedAt(first + recordBytes) - board.ReceivedAt(first);
    return std::chrono::duration<double>(span).count();
}

// Measure mode (the benchmark runs itself as a small process for this, so
// that the figure is vantoir's own and not inherited from this large one):
// runs the command with output to /dev/null and prints its peak resident
// memory in KB and the CPU time it used in seconds; the exit status is the
// command's.
int MeasureMode(char** command) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 0);
        dup2(devNull, 1);
        execv(command[0], command);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status)) {
        return 126;
    }
    const auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    std::printf("%ld %.6f\n", usage.ru_maxrss, seconds(usage.ru_utime) + seconds(usage.ru_stime));
    return WEXITSTATUS(status);
}

// Runs vantoir through measure mode; returns its peak resident memory in KB
// and its CPU time.
Upload RunMeasured(const std::vector<std::string>& args) {
    int output[2];
    if (pipe(output) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(output[1], 1);
        std::vector<char*> argv = {const_cast<char*>("download_bench"),
                                   const_cast<char*>("--measure")};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(selfPath, argv.data());
        _exit(127);
    }
    close(output[1]);
    char text[64] = {};
    char* end = text;
    const ssize_t length = read(output[0], text, sizeof text - 1);
    close(output[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        length <= 0) {
        throw std::runtime_error("vantoir failed");
    }
    Upload measured;
    measured.peakKb = std::strtol(text, &end, 10);
    measured.cpuSeconds = std::strtod(end, nullptr);
    return measured;
}

Upload RunVantoir(const HexFile& file, uint32_t baud,
                  const std::vector<std::string>& extra = std::vector<std::string>()) {
    sim::BoardConfig config;
    config.baudRate = baud;
    config.expectStart = false;
    sim::Board board(config);
    board.Start();
    std::vector<std::string> args = {VANTOIR_BINARY,
                                     "-P",
                                     board.SlavePath(),
                                     "-F",
                                     file.path,
                                     "-L",
                                     "-B",
                                     std::to_string(baud != 0 ? baud : 115200)};
    args.insert(args.end(), extra.begin(), extra.end());
    Upload upload = RunMeasured(args);
    if (!board.Summary().countMatched) {
        throw std::runtime_error("the board's count did not match");
    }
    upload.seconds = UploadSeconds(board, file.recordBytes);
    return upload;
}

void WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t written = write(fd, data, length);
        if (written < 0) {
            throw std::runtime_error("baseline write failed");
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
}

// The baseline: "?" and "R", then one write per record line, then "C".
Upload RunBaseline(const HexFile& file) {
    sim::Board board;
    board.Start();
    const int fd = open(board.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
    WriteAll(fd, "?\r\nR\r\n", 6);
    const char* text = file.text.data();
    const char* end = text + file.text.size();
    while (text < end) {
        const char* lineEnd = std::find(text, end, '\n') + 1;
        WriteAll(fd, text, static_cast<size_t>(lineEnd - text));
        text = lineEnd;
    }
    WriteAll(fd, "C\r\n", 3);
    if (!board.WaitForReceived("C\r\n", kGuardMs, 6 + file.recordBytes)) {
        throw std::runtime_error("baseline: the board did not receive \"C\"");
    }
    const double seconds = UploadSeconds(board, file.recordBytes);
    close(fd);
    return {seconds, 0};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Names a missed goal on standard error and counts it.
void ReportGoal(const char* what, bool met, int& missed) {
    if (!met) {
        std::fprintf(stderr, "download_bench: goal missed: %s\n", what);
        ++missed;
    }
}

double MegabytesPerSecond(size_t bytes, double seconds) {
    return static_cast<double>(bytes) / 1e6 / seconds;
}

// The large file against the baseline, and the peak memory of the large and
// the 1 MB file. Returns the number of goals missed.
int MeasureThroughputAndMemory(const std::string& directory, size_t megabytes, int runs) {
    const HexFile large = MakeFile(directory, "large.hex", megabytes << 20);
    const HexFile small = MakeFile(directory, "small.hex", 1 << 20);
    std::vector<double> baseline;
    std::vector<double> vantoir;
    long largePeakKb = 0;
    for (int run = 0; run < runs; ++run) {
        baseline.push_back(RunBaseline(large).seconds);
        const Upload upload = RunVantoir(large, 0);
        vantoir.push_back(upload.seconds);
        largePeakKb = std::max(largePeakKb, upload.peakKb);
    }
    const long smallPeakKb = RunVantoir(small, 0).peakKb;
    const double baselineSeconds = Median(baseline);
    const double vantoirSeconds = Median(vantoir);
    std::printf("file: %zu bytes, %zu record bytes; median of %d runs\n", large.text.size(),
                large.recordBytes, runs);
    std::printf("baseline (one write per line): %.3f s, %.1f MB/s\n", baselineSeconds,
                MegabytesPerSecond(large.recordBytes, baselineSeconds));
    std::printf("vantoir:                       %.3f s, %.1f MB/s\n", vantoirSeconds,
                MegabytesPerSecond(large.recordBytes, vantoirSeconds));
    const double ratio = baselineSeconds / vantoirSeconds;
    std::printf("throughput ratio vantoir/baseline: %.3f (goal >= %.2f)\n", ratio, kRatioGoal);
    std::printf("peak RSS: %ld KB for %zu bytes, %ld KB for %zu bytes (goal: within %.0f%%)\n",
                smallPeakKb, small.text.size(), largePeakKb, large.text.size(),
                kMemoryGrowthGoal * 100.0);
    const double memoryLimitKb = static_cast<double>(smallPeakKb) * (1.0 + kMemoryGrowthGoal);
    int missed = 0;
    ReportGoal("throughput ratio", ratio >= kRatioGoal, missed);
    ReportGoal("peak memory", static_cast<double>(largePeakKb) <= memoryLimitKb, missed);
    return missed;
}

// The 100 KB file to a board paced at kPacedBaud, against the line's own
// time. Returns the number of goals missed.
int MeasurePaced(const std::string& directory) {
    const HexFile paced = MakeFile(directory, "paced.hex", 100 * 1024);
    const double pacedSeconds = RunVantoir(paced, kPacedBaud).seconds;
    const double lineSeconds = static_cast<double>(paced.recordBytes) * 10.0 / kPacedBaud;
    const double excess = pacedSeconds / lineSeconds - 1.0;
    std::printf(
        "paced %u baud, %zu record bytes: %.3f s, line time %.3f s, %+.2f%% "
        "(goal <= %+.0f%%)\n",
        kPacedBaud, paced.recordBytes, pacedSeconds, lineSeconds, excess * 100.0,
        kPacedExcessGoal * 100.0);
    int missed = 0;
    ReportGoal("paced upload time", excess <= kPacedExcessGoal, missed);
    return missed;
}

// The large file with --events FILE and without, interleaved. Returns the
// number of goals missed.
int MeasureEvents(const std::string& directory, size_t megabytes, int runs) {
    const HexFile large = MakeFile(directory, "large.hex", megabytes << 20);
    const std::string events = directory + "/events.jsonl";
    std::vector<double> plain;
    std::vector<double> withEvents;
    std::vector<double> plainCpu;
    std::vector<double> eventsCpu;
    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            if ((run + turn) % 2 == 0) {
                const Upload upload = RunVantoir(large, 0);
                plain.push_back(upload.seconds);
                plainCpu.push_back(upload.cpuSeconds);
            } else {
                std::remove(events.c_str());
                const Upload upload = RunVantoir(large, 0, {"--events", events});
                withEvents.push_back(upload.seconds);
                eventsCpu.push_back(upload.cpuSeconds);
            }
        }
        std::printf("run %d: without %.3f s (CPU %.3f s), with %.3f s (CPU %.3f s)\n", run + 1,
                    plain.back(), plainCpu.back(), withEvents.back(), eventsCpu.back());
    }
    long lines = 0;
    if (std::FILE* stream = std::fopen(events.c_str(), "rb")) {
        for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream)) {
            lines += c == '\n' ? 1 : 0;
        }
        std::fclose(stream);
    }
    std::remove(events.c_str());
    const double plainSeconds = Median(plain);
    const double eventsSeconds = Median(withEvents);
    const double ratio = plainSeconds / eventsSeconds;
    std::printf("file: %zu bytes; median of %d runs each, interleaved\n", large.text.size(), runs);
    std::printf("without --events:     %.3f s, %.1f MB/s\n", plainSeconds,
                MegabytesPerSecond(large.recordBytes, plainSeconds));
    std::printf("with --events FILE:   %.3f s, %.1f MB/s (%ld events a run)\n", eventsSeconds,
                MegabytesPerSecond(large.recordBytes, eventsSeconds), lines);
    std::printf("throughput ratio with/without: %.3f (goal >= %.2f)\n", ratio, kEventsRatioGoal);
    std::printf("vantoir's CPU time, whole run: %.3f s without, %.3f s with (ratio %.3f)\n",
                Median(plainCpu), Median(eventsCpu), Median(plainCpu) / Median(eventsCpu));
    int missed = 0;
    ReportGoal("throughput with --events", ratio >= kEventsRatioGoal, missed);
    return missed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--measure") {
        return MeasureMode(argv + 2);
    }
    selfPath = argv[0];
    const bool events = argc > 1 && std::string(argv[1]) == "--events";
    if (events) {
        --argc;
        ++argv;
    }
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20;
    const int runs = argc > 2 ? std::atoi(argv[2]) : events ? 5 : 3;
    char directory[] = "/tmp/vantoir-bench-XXXXXX";
    if (mkdtemp(directory) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    int missed = 0;
    try {
        missed = events ? MeasureEvents(directory, megabytes, runs)
                        : MeasureThroughputAndMemory(directory, megabytes, runs) +
                              MeasurePaced(directory);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "download_bench: %s\n", error.what());
        return 1;
    }
    std::remove((std::string(directory) + "/large.hex").c_str());
    std::remove((std::string(directory) + "/small.hex").c_str());
    std::remove((std::string(directory) + "/paced.hex").c_str());
    rmdir(directory);
    return missed == 0 ? 0 : 1;
}
