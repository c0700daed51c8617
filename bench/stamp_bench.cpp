// The cost of --stamp: a download of a large image with a stamp against the
// same without, in one run, the real vantoir against kelvor-sim on a
// pseudo-terminal; then, each on its own, the stamping itself (finding and
// patching the record lines as the session passes them through the seam),
// the field's coverage check before the port is opened, and one reservation
// in a ledger file (read under the lock, one line appended and forced to
// disk).
//
// Usage: stamp_bench [megabytes (default 20)] [runs (default 3)]
//
// Prints the figures; exits with status 1 when the stamping itself takes
// more than 1 % of the upload's time (or a measurement fails), else 0.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/stamp/FileLedger.h"
#include "sim/Board.h"
#include "sim/HexRecord.h"
#include "text/RecordStamp.h"
#include "text/UploadFile.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBytesPerRecord = 32;
constexpr double kStampShareGoal = 0.01;
constexpr int kReservations = 50;
// Lines a ledger holds already when its reservations are measured.
constexpr int kLedgerLines = 2000;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void WriteFile(const std::string& path, const std::string& text) {
    std::FILE* stream = std::fopen(path.c_str(), "wb");
    if (stream == nullptr || std::fwrite(text.data(), 1, text.size(), stream) != text.size()) {
        throw std::runtime_error("cannot write " + path);
    }
    std::fclose(stream);
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

// One download by the real program, with extra switches; its upload time.
double Download(const std::string& image, size_t recordBytes,
                const std::vector<std::string>& extra) {
    sim::BoardConfig config;
    config.expectStart = false;
    sim::Board board(config);
    board.Start();
    std::vector<std::string> args = {VANTOIR_BINARY, "-P", board.SlavePath(), "-F", image, "-L"};
    args.insert(args.end(), extra.begin(), extra.end());
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(&arg[0]);
        }
        argv.push_back(nullptr);
        if (std::freopen("/dev/null", "w", stdout) == nullptr) {
            _exit(127);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("vantoir failed");
    }
    if (!board.Summary().countMatched) {
        throw std::runtime_error("the board's count did not match");
    }
    return UploadSeconds(board, recordBytes);
}

// Reads the image as the session does, every record line prepared for the
// wire; with a stamp, each passes through it. The seconds it took.
double PassLines(const std::string& image, RecordStamp* stamp) {
    UploadFile file;
    if (!file.Open(image.c_str())) {
        throw std::runtime_error("cannot open " + image);
    }
    std::vector<char> line(kUploadLineBytes + 1);
    size_t checksum = 0;
    const Clock::time_point start = Clock::now();
    for (size_t length; (length = file.ReadLine(line.data(), kUploadLineBytes)) != 0;) {
        length = PrepareRecordLine(line.data(), length);
        if (IsRecordLine(line.data(), length) && stamp != nullptr) {
            stamp->Filter(line.data(), length);
        }
        checksum += static_cast<unsigned char>(line[length / 2]);
    }
    const double seconds = SecondsSince(start);
    // Keeps the loop from being optimised away.
    if (checksum == 1) {
        std::printf(" ");
    }
    return seconds;
}

StampSpec FieldIn(size_t imageBytes) {
    StampSpec spec;
    std::string why;
    // In the middle of the image's data: a line the session meets halfway.
    const std::string text = std::to_string(imageBytes / 4) + ":u32le";
    if (!ParseStampSpec(text.c_str(), spec, why)) {
        throw std::runtime_error(why);
    }
    return spec;
}

double ReservationSeconds(const std::string& directory, const StampSpec& spec) {
    StampPlan plan;
    plan.spec = spec;
    plan.ledger = directory + "/ledger.jsonl";
    plan.start.counter.assign(8, 0);
    plan.start.counter.back() = 1;
    std::string lines;
    for (int i = 1; i <= kLedgerLines / 2; ++i) {
        lines += "{\"value\": " + std::to_string(i) + ", \"state\": \"reserved\"}\n";
        lines += "{\"value\": " + std::to_string(i) + ", \"state\": \"used\", \"outcome\": "
                 "\"complete\"}\n";
    }
    WriteFile(plan.ledger, lines);
    FileLedger ledger(plan);
    StampTaker taker;
    taker.port = "/dev/ttyUSB0";
    std::vector<double> times;
    for (int i = 0; i < kReservations; ++i) {
        const Clock::time_point start = Clock::now();
        ledger.Reserve(taker);
        times.push_back(SecondsSince(start));
    }
    return Median(times);
}

}  // namespace

int main(int argc, char** argv) {
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    try {
        char folder[] = "/tmp/stamp_bench-XXXXXX";
        if (mkdtemp(folder) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        const std::string directory = folder;
        const size_t lineBytes = sim::MakeHexFile(2, kBytesPerRecord, 1).size() -
                                 sim::MakeHexFile(1, kBytesPerRecord, 1).size();
        const int records = static_cast<int>(megabytes * 1000000 / lineBytes + 1);
        const std::string text = sim::MakeHexFile(records, kBytesPerRecord, 7);
        const std::string image = directory + "/image.hex";
        WriteFile(image, text);
        const StampSpec spec = FieldIn(static_cast<size_t>(records) * kBytesPerRecord);
        const std::string field = std::to_string(spec.address) + ":u32le";

        std::vector<double> plain;
        std::vector<double> stamped;
        for (int run = 0; run < runs; ++run) {
            plain.push_back(Download(image, text.size(), {}));
            const std::string ledger = directory + "/run" + std::to_string(run) + ".jsonl";
            // The made-up image has data everywhere, the field too.
            stamped.push_back(Download(image, text.size(),
                                       {"--stamp", field, "--stamp-ledger", ledger,
                                        "--stamp-overwrite"}));
        }
        std::vector<double> bare;
        std::vector<double> through;
        RecordStamp stamp(spec);
        stamp.Arm({0x11, 0x22, 0x33, 0x44});
        for (int run = 0; run < 5; ++run) {
            bare.push_back(PassLines(image, nullptr));
            stamp.Restart();
            through.push_back(PassLines(image, &stamp));
        }
        const Clock::time_point checkStart = Clock::now();
        const StampCoverage coverage = CheckStampCoverage(image.c_str(), spec);
        const double checkSeconds = SecondsSince(checkStart);
        if (!coverage.Sound()) {
            throw std::runtime_error("the field is not covered");
        }
        const double reserve = ReservationSeconds(directory, spec);

        const double upload = Median(plain);
        const double stamping = std::max(0.0, Median(through) - Median(bare));
        std::printf("image: %.1f MB, %d record lines; field %s\n", static_cast<double>(text.size()) / 1e6, records,
                    field.c_str());
        std::printf("upload without stamp: %.3f s (median of %d)\n", upload, runs);
        std::printf("upload with stamp:    %.3f s (median of %d; %+.1f %%)\n", Median(stamped),
                    runs, 100.0 * (Median(stamped) - upload) / upload);
        std::printf("stamping itself:      %.4f s (%.2f %% of the upload; lines read and "
                    "prepared alone %.3f s)\n",
                    stamping, 100.0 * stamping / upload, Median(bare));
        std::printf("coverage check:       %.3f s (before the port is opened)\n", checkSeconds);
        std::printf("one reservation:      %.2f ms (median of %d, ledger of %d lines, one "
                    "forced write)\n",
                    reserve * 1000.0, kReservations, kLedgerLines);
        if (stamping > kStampShareGoal * upload) {
            std::fprintf(stderr, "stamp_bench: goal missed: stamping within 1 %% of the upload\n");
            return 1;
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "stamp_bench: %s\n", error.what());
        return 1;
    }
}
