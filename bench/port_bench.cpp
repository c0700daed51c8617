// COMPort on a pseudo-terminal: how closely read time-outs are kept, how soon
// a read sees an arriving byte, what a read that returns at once costs, and
// the transfer rate in both directions.
//
//   build-<dir>/bench/port_bench

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "serial/COMPort.h"

namespace {

using Clock = std::chrono::steady_clock;

double MicrosecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Board {
    int master = -1;
    std::string slave;
    Board() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
            slave = ptsname(master);
        }
    }
    ~Board() { close(master); }
    void Drain(size_t count) const {
        std::vector<char> buffer(65536);
        while (count > 0) {
            const ssize_t got = read(master, buffer.data(), std::min(buffer.size(), count));
            if (got <= 0) {
                return;
            }
            count -= static_cast<size_t>(got);
        }
    }
    void Feed(size_t count) const {
        std::vector<char> buffer(4096, 'x');
        while (count > 0) {
            const ssize_t put = write(master, buffer.data(), std::min(buffer.size(), count));
            if (put <= 0) {
                return;
            }
            count -= static_cast<size_t>(put);
        }
    }
};

void Report(const char* what, std::vector<double> samples, const char* unit) {
    std::sort(samples.begin(), samples.end());
    std::printf("%-40s min %9.1f  median %9.1f  p99 %9.1f  max %9.1f %s\n", what, samples.front(),
                samples[samples.size() / 2], samples[samples.size() * 99 / 100], samples.back(),
                unit);
}

void TimeoutAccuracy(COMPort& port) {
    port.Configure(115200, 50);
    std::vector<double> samples;
    for (int i = 0; i < 40; ++i) {
        uint8_t byte = 0;
        const Clock::time_point start = Clock::now();
        port.Read(&byte, 1);
        samples.push_back(MicrosecondsSince(start) / 1000.0);
    }
    Report("silent 1-byte read, 50 ms time-out", samples, "ms");
}

void ArrivalLatency(COMPort& port, const Board& board) {
    port.Configure(115200, 3000);
    std::vector<double> samples;
    for (int i = 0; i < 2000; ++i) {
        uint8_t byte = 0;
        const Clock::time_point start = Clock::now();
        if (write(board.master, "+", 1) != 1) {
            return;
        }
        port.Read(&byte, 1);
        samples.push_back(MicrosecondsSince(start));
    }
    Report("byte written by board until read returns", samples, "us");
}

void ReturnAtOnceCost(COMPort& port) {
    port.SetReadTimeouts(kReadIntervalReturnAtOnce, 0, 0);
    std::vector<double> samples;
    uint8_t buffer[128];
    for (int i = 0; i < 20000; ++i) {
        const Clock::time_point start = Clock::now();
        port.Read(buffer, sizeof buffer);
        samples.push_back(MicrosecondsSince(start));
    }
    Report("128-byte read returning at once, empty", samples, "us");
}

void WriteRate(COMPort& port, const Board& board) {
    port.Configure(115200, 3000);
    constexpr size_t kTotal = 16 << 20;
    constexpr uint32_t kLine = 45;  // one upload record line
    std::thread drain([&] { board.Drain(kTotal / kLine * kLine); });
    const std::vector<char> line(kLine, 'A');
    const Clock::time_point start = Clock::now();
    for (size_t sent = 0; sent + kLine <= kTotal; sent += kLine) {
        port.Write(line.data(), kLine);
    }
    drain.join();
    std::printf("%-40s %9.1f MB/s\n", "45-byte writes, board draining",
                kTotal / MicrosecondsSince(start));
}

void ReadRate(COMPort& port, const Board& board) {
    port.Configure(115200, 10);
    constexpr size_t kTotal = 16 << 20;
    std::thread feed([&] { board.Feed(kTotal); });
    std::vector<char> buffer(512);
    const Clock::time_point start = Clock::now();
    size_t received = 0;
    while (received < kTotal) {
        received += port.Read(buffer.data(), static_cast<uint32_t>(buffer.size()));
    }
    feed.join();
    std::printf("%-40s %9.1f MB/s\n", "512-byte reads, 10 ms time-out",
                kTotal / MicrosecondsSince(start));
}

}  // namespace

int main() {
    Board board;
    if (board.slave.empty()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    COMPort port(board.slave.c_str());
    TimeoutAccuracy(port);
    ArrivalLatency(port, board);
    ReturnAtOnceCost(port);
    WriteRate(port, board);
    ReadRate(port, board);
    return 0;
}
