// kelvor-soak: many downloads of random files by the real vantoir binary
// against simulated boards with random faults, each checked against the
// ending its plan expects (soak/Plan.h); then rounds of eight downloads in
// parallel to eight boards.
//
// Usage: kelvor-soak RUNS [SEED] [--jobs N] [--parallel-rounds N]
//                    [--gang-runs N] [--ledger-fault-runs N]
//                    [--failure-status S]  (S: the protocol failures' exit
//                    status, 1 by default; 0 for builds from before it was 1)
// Run i uses seed SEED + i; "kelvor-soak 1 S" replays the run of seed S.
// --gang-runs N puts N gang runs (--gang over soak::kGangPorts boards, see
// MakeGangPlans) among the runs, evenly spread, each counted once per port;
// "kelvor-soak 0 S --gang-runs 1" replays the gang run of seed S.
// Prints a tally per ending and every wrong run with its seed; exits 1 on
// any wrong run.
// Every fourth seed's run (and every board of the parallel rounds) is
// stamped (--stamp) from one ledger shared by the whole soak; at the end the
// ledger is read against what the boards received: a number reserved twice,
// on two boards, or closed otherwise than its run ended fails the soak (the
// ledger is kept then).
// --ledger-fault-runs N then runs the ledger's faults (soak/LedgerFaults.h):
// N stamped runs while the soak's own PostgreSQL server is stopped and
// started under them (where the server programs are installed), and runs on
// a file ledger whose disk fills up; a number left reserved without a word
// fails the soak.
// Every run's record goes to the factory's database (soak/Factory.h) of a
// server of the soak's own, which a chaos thread stops and starts at random
// moments, beside runs and forwarders it kills; at the end every complete
// record of every record file must be in the table exactly once.

#include <stdlib.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "soak/Check.h"
#include "soak/LedgerFaults.h"
#include "soak/Factory.h"
#include "soak/Plan.h"

namespace {

struct Options {
    int runs = 100;
    uint64_t seed = 0;
    int jobs = 4;
    int parallelRounds = 1;
    int gangRuns = 0;
    int ledgerFaultRuns = 0;
    int failureStatus = 1;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--jobs" || arg == "--parallel-rounds") && i + 1 < argc) {
            (arg == "--jobs" ? options.jobs : options.parallelRounds) = std::atoi(argv[++i]);
        } else if (arg == "--gang-runs" && i + 1 < argc) {
            options.gangRuns = std::atoi(argv[++i]);
        } else if (arg == "--ledger-fault-runs" && i + 1 < argc) {
            options.ledgerFaultRuns = std::atoi(argv[++i]);
        } else if (arg == "--failure-status" && i + 1 < argc) {
            options.failureStatus = std::atoi(argv[++i]);
        } else if (!arg.empty() && arg[0] != '-') {
            positional.push_back(arg);
        } else {
            return false;
        }
    }
    if (positional.empty() || positional.size() > 2) {
        return false;
    }
    options.runs = std::atoi(positional[0].c_str());
    options.seed =
        positional.size() > 1
            ? std::strtoull(positional[1].c_str(), nullptr, 10)
            : static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) %
                  1000000000ULL;
    return options.runs >= 0 && options.jobs > 0 && options.parallelRounds >= 0 &&
           options.gangRuns >= 0 && options.ledgerFaultRuns >= 0;
}

struct Tally {
    std::mutex lock;
    std::map<std::string, int> endings;
    std::vector<std::string> failures;
    double longest = 0;
    double longestAllowed = 0;

    void Add(const soak::Plan& plan, const soak::Verdict& verdict) {
        std::lock_guard<std::mutex> guard(lock);
        ++endings[verdict.ending];
        if (verdict.seconds > longest) {
            longest = verdict.seconds;
            longestAllowed = plan.allowedSeconds;
        }
        if (!verdict.ok) {
            failures.push_back("seed " + std::to_string(plan.seed) + " (" + plan.faults +
                               "): expected " + soak::EndingName(plan.ending) + ", " +
                               verdict.detail);
            std::fprintf(stderr, "soak: WRONG seed %llu: %s\n",
                         static_cast<unsigned long long>(plan.seed), failures.back().c_str());
        }
    }
};

// Runs of one board, with a gang run of kGangPorts boards among them at
// every gangEvery-th place.
void RunMany(const Options& options, Tally& tally) {
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    const int total = options.runs + options.gangRuns;
    const int gangEvery = options.gangRuns > 0 ? std::max(1, total / options.gangRuns) : 0;
    auto worker = [&] {
        for (int i = next++; i < total; i = next++) {
            const uint64_t seed = options.seed + static_cast<uint64_t>(i);
            if (gangEvery > 0 && i % gangEvery == gangEvery - 1 &&
                (i + 1) / gangEvery <= options.gangRuns) {
                const std::vector<soak::Plan> plans = soak::MakeGangPlans(seed);
                const std::vector<soak::Verdict> verdicts = soak::RunGangAndCheck(plans);
                for (size_t p = 0; p < plans.size(); ++p) {
                    soak::Verdict verdict = verdicts[p];
                    verdict.ending = "gang-" + verdict.ending;
                    tally.Add(plans[p], verdict);
                }
            } else {
                const soak::Plan plan = soak::MakePlan(seed);
                tally.Add(plan, soak::RunAndCheck(plan));
            }
            const int finished = ++done;
            if (finished % 100 == 0) {
                std::printf("soak: %d of %d runs\n", finished, total);
                std::fflush(stdout);
            }
        }
    };
    std::vector<std::thread> workers;
    for (int j = 0; j < std::min(options.jobs, std::max(total, 1)); ++j) {
        workers.emplace_back(worker);
    }
    for (std::thread& t : workers) {
        t.join();
    }
}

void RunParallelRounds(const Options& options, Tally& tally) {
    for (int round = 0; round < options.parallelRounds; ++round) {
        std::vector<soak::Plan> plans;
        for (int b = 0; b < soak::kParallelBoards; ++b) {
            plans.push_back(soak::MakeCleanPlan(options.seed + 1000000ULL * (round + 1) + b, true));
        }
        const std::vector<soak::Verdict> verdicts = soak::RunParallelAndCheck(plans);
        for (size_t b = 0; b < plans.size(); ++b) {
            soak::Verdict verdict = verdicts[b];
            verdict.ending = "parallel-" + verdict.ending;
            tally.Add(plans[b], verdict);
        }
    }
}

// The ledger's faults, when asked for: the database's and the full disk's
// at once; what was run, and the problems.
std::vector<std::string> RunLedgerFaults(const Options& options) {
    if (options.ledgerFaultRuns == 0) {
        return {};
    }
    const auto start = std::chrono::steady_clock::now();
    std::string diskSummary;
    std::vector<std::string> disk;
    std::thread diskFaults([&] { disk = soak::RunFullDiskFaults(options.seed, diskSummary); });
    std::string summary;
    std::vector<std::string> problems = soak::RunDatabaseFaults(
        options.seed + 2000000ULL, options.ledgerFaultRuns, options.jobs, summary);
    diskFaults.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("soak: ledger faults, the database: %s\n", summary.c_str());
    std::printf("soak: ledger faults, a full disk: %s\n", diskSummary.c_str());
    std::printf("soak: ledger faults took %.0f s\n", seconds);
    problems.insert(problems.end(), disk.begin(), disk.end());
    for (const std::string& problem : problems) {
        std::printf("soak: WRONG ledger: %s\n", problem.c_str());
    }
    std::fflush(stdout);
    return problems;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: kelvor-soak RUNS [SEED] [--jobs N] [--parallel-rounds N] "
                     "[--gang-runs N] [--ledger-fault-runs N] [--failure-status S]\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    std::printf("soak: %d runs from seed %llu, %d at a time; %d rounds of %d boards in parallel\n",
                options.runs, static_cast<unsigned long long>(options.seed), options.jobs,
                options.parallelRounds, soak::kParallelBoards);
    std::fflush(stdout);
    soak::SetProtocolFailureStatus(options.failureStatus);
    // One ledger for every stamped run of the soak.
    char folder[] = "/tmp/kelvor-soak-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::perror("kelvor-soak: mkdtemp");
        return 2;
    }
    const std::string ledger = std::string(folder) + "/stamp-ledger.jsonl";
    soak::SetStampLedger(ledger);
    // Every run's record goes to the factory's database, which a chaos of its
    // own stops and starts, beside runs and forwarders it kills.
    std::string why;
    if (!soak::StartFactory(folder, why)) {
        std::printf("soak: the factory's database: skipped: %s\n", why.c_str());
    }
    std::atomic<bool> calm{false};
    soak::ChaosTally chaos;
    std::thread chaosThread;
    if (soak::FactoryStarted()) {
        chaosThread = std::thread([&] { soak::RunChaos(options.seed, calm, chaos); });
    }
    Tally tally;
    RunMany(options, tally);
    RunParallelRounds(options, tally);
    calm = true;
    if (chaosThread.joinable()) {
        chaosThread.join();
    }
    std::string factorySummary;
    const std::vector<std::string> factoryProblems =
        soak::FactoryStarted() ? soak::CheckFactory(factorySummary) : std::vector<std::string>();
    std::string stampSummary;
    const std::vector<std::string> stampProblems = soak::CheckStampLedger(stampSummary);
    const std::vector<std::string> ledgerProblems = RunLedgerFaults(options);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("soak: tally after %.0f s:\n", seconds);
    for (const auto& [ending, count] : tally.endings) {
        std::printf("soak:   %-32s %6d\n", ending.c_str(), count);
    }
    std::printf("soak: longest run %.1f s (its protocol waits allow %.1f s)\n", tally.longest,
                tally.longestAllowed);
    for (const std::string& failure : tally.failures) {
        std::printf("soak: WRONG %s\n", failure.c_str());
    }
    std::printf("soak: %zu wrong endings%s\n", tally.failures.size(),
                tally.failures.empty() ? "" : " (replay one: scripts/soak 1 SEED)");
    std::printf("soak: stamps: %s\n", stampSummary.c_str());
    for (const std::string& problem : stampProblems) {
        std::printf("soak: WRONG stamp: %s\n", problem.c_str());
    }
    std::printf("soak: %zu numbers given twice or not as the ledger says\n", stampProblems.size());
    if (soak::FactoryStarted()) {
        std::printf(
            "soak: factory: the server stopped %d times; %d runs and %d forwards killed "
            "(%d runs ended before their kill); %s\n",
            chaos.serverStops, chaos.runsKilled, chaos.forwardsKilled, chaos.runsEnded,
            factorySummary.c_str());
        for (const std::string& problem : factoryProblems) {
            std::printf("soak: WRONG record: %s\n", problem.c_str());
        }
        std::printf("soak: %zu records missing, stored twice or stored from no file\n",
                    factoryProblems.size());
    }
    std::printf(
        "soak: %zu numbers left reserved without a word, or otherwise wrong under the "
        "ledger's faults\n",
        ledgerProblems.size());
    const bool passed = tally.failures.empty() && stampProblems.empty() && ledgerProblems.empty() &&
                        factoryProblems.empty();
    if (passed) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    } else {
        std::printf("soak: the stamp ledger and the record files are kept in %s\n", folder);
    }
    return passed ? 0 : 1;
}
