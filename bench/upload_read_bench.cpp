// Reading speed and memory of UploadFile: every line of a large Intel-HEX
// file (CR LF line ends) read and prepared as the download does, next to a
// plain fgets loop over the same file, which does no translation at all.
//
// Usage: upload_read_bench [megabytes (default 20)] [runs (default 5)]
//
// Reports the best time of each reader and its throughput, the ratio, and the
// peak resident memory after reading the file and after reading one five
// times as large (it must not grow with the file).

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "text/UploadFile.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string WriteHexFile(const char* name, long megabytes) {
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
    }
    const long bytes = megabytes * 1000 * 1000;
    char record[64];
    for (long written = 0, address = 0; written < bytes; address += 16) {
        written += std::snprintf(record, sizeof record,
                                 ":10%04lX00000102030405060708090A0B0C0D0E0F%02lX\r\n",
                                 address & 0xFFFF, (0x100 - (address & 0xFF)) & 0xFF);
        std::fputs(record, out);
    }
    std::fclose(out);
    return path;
}

// Returns seconds; lines and bytes read go to the counters.
double ReadWithUploadFile(const std::string& path, long& lines) {
    static char buffer[kUploadLineBytes + 1];
    const auto start = Clock::now();
    UploadFile file;
    if (!file.Open(path.c_str())) {
        std::exit(1);
    }
    lines = 0;
    while (size_t length = file.ReadLine(buffer, kUploadLineBytes)) {
        length = PrepareRecordLine(buffer, length);
        lines += buffer[0] == ':' && buffer[length - 1] == '\n';
    }
    if (file.Position() != file.Size()) {
        std::fprintf(stderr, "position %lld != size %lld\n",
                     static_cast<long long>(file.Position()), static_cast<long long>(file.Size()));
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double ReadWithFgets(const std::string& path, long& lines) {
    static char buffer[kUploadLineBytes];
    const auto start = Clock::now();
    std::FILE* in = std::fopen(path.c_str(), "rb");
    lines = 0;
    while (std::fgets(buffer, sizeof buffer, in) != nullptr) {
        lines += buffer[0] == ':';
    }
    std::fclose(in);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long PeakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;  // kilobytes on Linux, bytes on macOS
}

}  // namespace

int main(int argc, char** argv) {
    const long megabytes = argc > 1 ? std::atol(argv[1]) : 20;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string path = WriteHexFile("upload_read_bench.hex", megabytes);
    const double fileMb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;

    double best = 1e9;
    double bestFgets = 1e9;
    long lines = 0;
    long fgetsLines = 0;
    for (int run = 0; run < runs; ++run) {
        best = std::min(best, ReadWithUploadFile(path, lines));
        bestFgets = std::min(bestFgets, ReadWithFgets(path, fgetsLines));
    }
    const long peakSmall = PeakKb();
    std::printf("file: %.1f MB, %ld record lines (fgets counted %ld)\n", fileMb, lines, fgetsLines);
    std::printf("UploadFile + PrepareRecordLine: %.1f ms (%.0f MB/s)\n", best * 1e3, fileMb / best);
    std::printf("plain fgets, no translation:    %.1f ms (%.0f MB/s)\n", bestFgets * 1e3,
                fileMb / bestFgets);
    std::printf("ratio: %.2f\n", best / bestFgets);
    std::remove(path.c_str());

    const std::string large = WriteHexFile("upload_read_bench_large.hex", megabytes * 5);
    ReadWithUploadFile(large, lines);
    std::remove(large.c_str());
    std::printf("peak resident: %ld after %.0f MB, %ld after %.0f MB\n", peakSmall, fileMb,
                PeakKb(), fileMb * 5);
    return 0;
}
