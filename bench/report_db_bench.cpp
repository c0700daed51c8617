// What --report-db costs: a server of the benchmark's own
// (tests/support/PostgresServer: a cluster in a temporary folder, a socket
// there, no TCP) that forces each commit to disk as a production server
// does, and the forward as the program makes it (app/factory/).
//
// Measured:
//   - each board of a --repeat run: its record appended and forced to disk as
//     the run writes it, then forwarded (the mark read, the new line read,
//     one transaction, the mark moved and forced to disk), the connection kept
//     from the board before; median and worst of BOARDS, against the goal of
//     5 ms;
//   - a single run's forward, which opens its own connection (and finds the
//     table, prepares its insert): as the run makes it, started before the
//     board's session (kSessionMs here, shorter than any download's) and
//     finished at the forward, median and worst of BOARDS, goal 60 ms; and
//     made at the forward from the start, for comparison;
//   - forwarding 10,000 waiting records in one transaction (a run's forward
//     after an outage), and with --forward-records, goal 5 s each;
//   - beside them, forcing a small file to disk (the mark's write alone), for
//     what the machine's disk costs at the time: a board's forward forces the
//     mark and the server's commit;
//   - the whole program (vantoir against kelvor-sim) with --report-db naming
//     a database that never answers (a socket that takes connections and
//     says nothing), against the same run without --report-db: the
//     difference of the medians of RUNS, goal at most 1 s.
//
// Usage: report_db_bench [BOARDS (default 50)] [RUNS (default 5)]
//
// Prints the figures and exits 0 when every goal is met, 1 when one is
// missed (each named on standard error) or a measurement fails; says
// "skipped: why" and exits 0 when the server programs are not installed.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/factory/ForwardRecords.h"
#include "app/factory/RecordDatabase.h"
#include "app/factory/RecordForwarder.h"
#include "tests/support/Harness.h"
#include "tests/support/PostgresServer.h"
#include "text/AppendFile.h"
#include "text/SmallFile.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWaiting = 10000;
constexpr int kSessionMs = 300;
constexpr double kBoardGoalMs = 5;
constexpr double kSingleRunGoalMs = 60;
constexpr double kWaitingGoalSeconds = 5;
constexpr double kSilentGoalSeconds = 1;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Spread {
    double median = 0;
    double worst = 0;
};

Spread SpreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.back()};
}

// A record as a run writes it (about 900 bytes), named n.
std::string RecordLine(int n) {
    char id[40];
    std::snprintf(id, sizeof id, "6f1c2a3e-1d2b-4c9e-8a77-%012d", n);
    const nlohmann::ordered_json record = {
        {"version", "1.3"},
        {"started", "2026-12-09T03:52:54.185Z"},
        {"ended", "2026-12-09T03:52:55.239Z"},
        {"mode", "download"},
        {"port", "/dev/ttyUSB0"},
        {"device", "/dev/ttyUSB0"},
        {"usb", {{"id", "0403:6001"}, {"serial", "A50285BI"}}},
        {"baud", 115200},
        {"file", "app.hex"},
        {"file_bytes", 14048},
        {"file_sha256", "830bd85ac0ea42a9eb6d47d65c2cad22a30ed74ebe61a34415c6dbeae84f8bf7"},
        {"board", "KELVOR DSP boot loader 2.4"},
        {"board_messages",
         {"Programming flash: 33%", "Programming flash: 66%", "Programming flash: 100%"}},
        {"board_messages_omitted", 0},
        {"records_sent", 320},
        {"records_confirmed", 320},
        {"flash", "acknowledged"},
        {"start_sent", true},
        {"timeout", 30},
        {"outcome", n % 10 == 0 ? "count-mismatch" : "complete"},
        {"error", nullptr},
        {"findings", nlohmann::json::array()},
        {"exit_status", n % 10 == 0 ? 1 : 0},
        {"signal", nullptr},
        {"seconds", 1.053},
        {"phases", {{"waiting", 0.501}, {"upload", 0.05}, {"count", 0.05}, {"flash", 0.451}}},
        {"board_number", n},
        {"run_id", "bench"},
        {"record_id", id},
        {"station", "bench"}};
    return record.dump() + "\n";
}

std::string NewFile(const std::string& name) {
    return harness::WriteTempFile("", name);
}

void Append(AppendFile& file, const std::string& text) {
    if (!file.AppendRecord(text)) {
        throw std::runtime_error("the record file did not take a record");
    }
}

void Forwarded(RecordForwarder& forwarder) {
    const std::string said = forwarder.Forward();
    if (!said.empty()) {
        throw std::runtime_error("the forward said: " + said);
    }
}

// A forward that may find the database away (a machine so loaded that the
// server does not let a client in within the run's wait): false then, and
// it is counted.
bool ForwardedInTime(RecordForwarder& forwarder, int& away) {
    const std::string said = forwarder.Forward();
    if (said.find(" for the database: no answer within ") != std::string::npos) {
        ++away;
        return false;
    }
    if (!said.empty()) {
        throw std::runtime_error("the forward said: " + said);
    }
    return true;
}

std::unique_ptr<RecordForwarder> Forwarder(const std::string& file, const std::string& address) {
    return std::make_unique<RecordForwarder>(file, OpenRecordDatabase(address, DatabaseWaits()));
}

// Each board of a --repeat run: its record written, then forwarded on the
// connection kept.
Spread EachBoard(const std::string& address, int boards) {
    const std::string file = NewFile("repeat.jsonl");
    AppendFile records;
    records.Open(file.c_str());
    const std::unique_ptr<RecordForwarder> forwarder = Forwarder(file, address);
    forwarder->StartEarly();
    Append(records, RecordLine(0));
    Forwarded(*forwarder);  // connects, finds the table
    std::vector<double> added;
    for (int board = 1; board <= boards; ++board) {
        Append(records, RecordLine(board));
        const Clock::time_point start = Clock::now();
        Forwarded(*forwarder);
        added.push_back(MillisecondsSince(start));
    }
    return SpreadOf(added);
}

// The mark's write alone: a small file rewritten and forced to disk.
Spread DiskForce(int times) {
    const std::string file = NewFile("forced");
    std::vector<double> took;
    std::string why;
    for (int i = 0; i < times; ++i) {
        const Clock::time_point start = Clock::now();
        if (!RewriteSmallFile(file.c_str(), std::string(255, ' ') + "\n", why)) {
            throw std::runtime_error("cannot force a small file: " + why);
        }
        took.push_back(MillisecondsSince(start));
    }
    return SpreadOf(took);
}

// A single run: a forwarder of its own for each record, its connection
// started before the session (early) or only at the forward. The runs that
// found the database away are counted in away, not timed.
Spread SingleRuns(const std::string& address, int runs, bool early, int base, int& away) {
    const std::string file = NewFile("single.jsonl");
    AppendFile records;
    records.Open(file.c_str());
    std::vector<double> added;
    for (int run = 0; run < runs; ++run) {
        const std::unique_ptr<RecordForwarder> forwarder = Forwarder(file, address);
        Clock::time_point start = Clock::now();
        if (early) {
            forwarder->StartEarly();
        }
        double startMs = MillisecondsSince(start);
        // The board's session.
        std::this_thread::sleep_for(std::chrono::milliseconds(kSessionMs));
        Append(records, RecordLine(base + run));
        start = Clock::now();
        if (ForwardedInTime(*forwarder, away)) {
            added.push_back(startMs + MillisecondsSince(start));
        }
    }
    if (added.empty()) {
        throw std::runtime_error("no run found the database in time");
    }
    return SpreadOf(added);
}

std::string WaitingRecords(int base) {
    const std::string file = NewFile("waiting.jsonl");
    AppendFile records;
    records.Open(file.c_str());
    std::string all;
    for (int n = 0; n < kWaiting; ++n) {
        all += RecordLine(base + n);
    }
    Append(records, all);
    return file;
}

// After an outage, the next run forwards what waits, in one transaction.
double WaitingForwardedByARun(const std::string& address) {
    const std::string file = WaitingRecords(200000);
    const Clock::time_point start = Clock::now();
    Forwarded(*Forwarder(file, address));
    return MillisecondsSince(start) / 1000.0;
}

double WaitingForwardedByCommand(const std::string& address) {
    const std::string file = WaitingRecords(300000);
    const Clock::time_point start = Clock::now();
    const ForwardRecordsEnd end = ForwardRecords(file, address);
    if (end.status != 0) {
        throw std::runtime_error("--forward-records ended with " + end.message);
    }
    return MillisecondsSince(start) / 1000.0;
}

// A socket that takes connections and never answers.
class SilentServer {
  public:
    SilentServer() {
        folder = std::filesystem::path(NewFile("x")).parent_path().string();
        const std::string path = folder + "/.s.PGSQL.5432";
        socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(socket, 64) != 0) {
            throw std::runtime_error("cannot make the silent socket");
        }
    }
    ~SilentServer() { ::close(socket); }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    std::string folder;
    int socket = -1;
};

double RunSeconds(const std::vector<std::string>& extra, const std::string& image) {
    auto board = harness::StartBoard();
    std::vector<std::string> args = {"-P",  board->SlavePath(), "-F",
                                     image, "--report",         NewFile("run.jsonl")};
    args.insert(args.end(), extra.begin(), extra.end());
    const Clock::time_point start = Clock::now();
    const harness::ProcessResult result = harness::RunVantoir(args, 60000);
    const double seconds = MillisecondsSince(start) / 1000.0;
    if (result.exitStatus != 0) {
        throw std::runtime_error("a run ended with " + harness::Describe(result));
    }
    return seconds;
}

// The whole program with a database that never answers, against the same
// run without --report-db: the medians' difference.
double SilentDatabaseCost(int runs, double& without, double& with) {
    SilentServer silent;
    const std::string image = harness::WriteTempFile(harness::SampleHex(100));
    std::vector<double> plain;
    std::vector<double> away;
    for (int run = 0; run < runs; ++run) {
        plain.push_back(RunSeconds({}, image));
        away.push_back(RunSeconds(
            {"--report-db", "postgresql:///x?host=" + silent.folder + "&connect_timeout=30"},
            image));
    }
    without = SpreadOf(plain).median;
    with = SpreadOf(away).median;
    return with - without;
}

bool Goal(bool met, const char* what) {
    if (!met) {
        std::fprintf(stderr, "report_db_bench: goal missed: %s\n", what);
    }
    return met;
}

}  // namespace

int main(int argc, char** argv) {
    const int boards = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::string why;
    if (!BuildHasRecordDatabase()) {
        std::printf("report_db_bench: skipped: this build has no PostgreSQL client\n");
        return 0;
    }
    if (!harness::PostgresServer::Installed(why)) {
        std::printf("report_db_bench: skipped: %s\n", why.c_str());
        return 0;
    }
    try {
        harness::PostgresServer server(true);
        const std::string address = server.Address("bench");
        const Spread disk = DiskForce(boards);
        const Spread board = EachBoard(address, boards);
        int awayEarly = 0;
        int awayAtTheForward = 0;
        const Spread single = SingleRuns(address, boards, true, 100000, awayEarly);
        const Spread atTheForward = SingleRuns(address, boards, false, 150000, awayAtTheForward);
        const double waitingRun = WaitingForwardedByARun(address);
        const double waitingCommand = WaitingForwardedByCommand(address);
        double without = 0;
        double with = 0;
        const double silent = SilentDatabaseCost(runs, without, with);
        std::printf("a server of its own on a local socket, commits forced to disk\n");
        std::printf(
            "each board of --repeat (connection kept): %.2f ms median, %.2f ms worst of %d\n",
            board.median, board.worst, boards);
        std::printf(
            "forcing a small file to disk (the disk's own cost now): %.2f ms median, "
            "%.2f ms worst of %d\n",
            disk.median, disk.worst, boards);
        std::printf(
            "a single run (its own connection):        %.2f ms median, %.2f ms worst of %d "
            "(connecting at the forward only: %.2f ms, %.2f ms)\n",
            single.median, single.worst, boards, atTheForward.median, atTheForward.worst);
        if (awayEarly + awayAtTheForward > 0) {
            std::printf(
                "  found away, the server not letting a client in within the run's wait: "
                "%d of %d, and %d of %d connecting at the forward only\n",
                awayEarly, boards, awayAtTheForward, boards);
        }
        std::printf("%d waiting records, a run's forward:   %.2f s\n", kWaiting, waitingRun);
        std::printf("%d waiting records, --forward-records: %.2f s\n", kWaiting, waitingCommand);
        std::printf(
            "a run with a database that never answers: %.3f s against %.3f s: +%.3f s "
            "(medians of %d)\n",
            with, without, silent, runs);
        bool met = Goal(board.median <= kBoardGoalMs, "each board at most 5 ms");
        met = Goal(single.median <= kSingleRunGoalMs, "a single run at most 60 ms") && met;
        met = Goal(waitingRun <= kWaitingGoalSeconds && waitingCommand <= kWaitingGoalSeconds,
                   "10,000 waiting records within 5 s") &&
              met;
        met = Goal(silent <= kSilentGoalSeconds, "a silent database at most 1 s more") && met;
        return met ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "report_db_bench: %s\n", error.what());
    }
    return 1;
}
