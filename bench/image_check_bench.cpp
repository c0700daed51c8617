// Speed and memory of the image check: a large Intel-HEX image (kelvor-hexgen's
// records, CR LF line ends) checked with CheckImageFile, as --check and
// --check-only do, next to the upload's reading alone (UploadFile and
// PrepareRecordLine over the same file). Then the same image with the data
// records of each 64 KiB block in random order, which gives the set of
// written ranges the most work.
//
// Usage: image_check_bench [megabytes (default 20)] [runs (default 7)]
//
// Reports the median, fastest and slowest check of each image and the
// reading alone (the memory of a check is vantoir's own: measure it on
// "vantoir --check-only", see docs/development.md, Performance). Exits with
// status 1 when a check of the image in order takes 0.5 s or more (median),
// or when an image is not found sound.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "sim/HexRecord.h"
#include "text/ImageCheck.h"
#include "text/UploadFile.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kGoalSeconds = 0.5;
// A record of 16 data bytes with CR LF is 45 characters.
constexpr long kRecordChars = 45;

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start) + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// The data records between two extended-address records in random order.
std::string Shuffled(const std::string& text) {
    std::vector<std::string> lines = SplitLines(text);
    std::mt19937 random(7);
    auto from = lines.begin();
    for (auto at = lines.begin(); at != lines.end(); ++at) {
        if (at->compare(0, 9, ":02000004") == 0 || at + 1 == lines.end()) {
            std::shuffle(from, at, random);
            from = at + 1;
        }
    }
    std::string joined;
    joined.reserve(text.size());
    for (const std::string& line : lines) {
        joined += line;
    }
    return joined;
}

std::string WriteFile(const char* name, const std::string& text) {
    const std::string path = (std::filesystem::temp_directory_path() / name).string();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(text.data(), 1, text.size(), out) != text.size()) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fclose(out);
    return path;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double ReadAlone(const std::string& path) {
    static char buffer[kUploadLineBytes + 1];
    const auto start = Clock::now();
    UploadFile file;
    if (!file.Open(path.c_str())) {
        std::exit(1);
    }
    while (size_t length = file.ReadLine(buffer, kUploadLineBytes)) {
        PrepareRecordLine(buffer, length);
    }
    return SecondsSince(start);
}

struct Timing {
    double median = 0;
    double fastest = 0;
    double slowest = 0;
    bool sound = false;
    ImageCheckResult last;
};

Timing TimeChecks(const std::string& path, int runs) {
    std::vector<double> seconds;
    Timing timing;
    timing.sound = true;
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        timing.last = CheckImageFile(path.c_str());
        seconds.push_back(SecondsSince(start));
        timing.sound = timing.sound && timing.last.Sound();
    }
    std::sort(seconds.begin(), seconds.end());
    timing.median = seconds[seconds.size() / 2];
    timing.fastest = seconds.front();
    timing.slowest = seconds.back();
    return timing;
}

void Report(const char* what, const Timing& timing, double megabytes) {
    std::printf("%s: %.1f ms median (%.1f-%.1f), %.0f MB/s; %lld records, %zu ranges, %s\n", what,
                timing.median * 1e3, timing.fastest * 1e3, timing.slowest * 1e3,
                megabytes / timing.median, static_cast<long long>(timing.last.records),
                timing.last.ranges.size(), timing.sound ? "sound" : "NOT SOUND");
}

}  // namespace

int main(int argc, char** argv) {
    const long megabytes = argc > 1 ? std::atol(argv[1]) : 20;
    const int runs = std::max(1, argc > 2 ? std::atoi(argv[2]) : 7);
    const std::string text =
        sim::MakeHexFile(static_cast<int>(megabytes * 1000 * 1000 / kRecordChars), 16, 1);
    const std::string inOrder = WriteFile("image_check_bench.hex", text);
    const std::string shuffled = WriteFile("image_check_bench_shuffled.hex", Shuffled(text));
    const double fileMb = static_cast<double>(text.size()) / 1e6;

    std::vector<double> reads;
    for (int run = 0; run < runs; ++run) {
        reads.push_back(ReadAlone(inOrder));
    }
    std::sort(reads.begin(), reads.end());
    const Timing ordered = TimeChecks(inOrder, runs);
    const Timing random = TimeChecks(shuffled, runs);
    std::remove(inOrder.c_str());
    std::remove(shuffled.c_str());

    std::printf("image: %.1f MB, %d runs each\n", fileMb, runs);
    std::printf("reading alone (UploadFile + PrepareRecordLine): %.1f ms median\n",
                reads[reads.size() / 2] * 1e3);
    Report("check, records in order", ordered, fileMb);
    Report("check, records shuffled in each 64 KiB", random, fileMb);
    bool ok = ordered.sound && random.sound;
    if (ordered.median >= kGoalSeconds) {
        std::fprintf(stderr, "goal missed: the check took %.3f s, goal under %.1f s\n",
                     ordered.median, kGoalSeconds);
        ok = false;
    }
    return ok ? 0 : 1;
}
