#include "soak/Factory.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "app/records/RecordFile.h"
#include "tests/support/Harness.h"
#include "tests/support/PostgresServer.h"

namespace soak {
namespace {

struct Factory {
    std::unique_ptr<harness::PostgresServer> server;
    std::string address;
    std::vector<std::string> files;
    std::mutex serverLock;  // the chaos thread and the end take turns
};

Factory& TheFactory() {
    static Factory factory;
    return factory;
}

bool IsForwardLine(const std::string& line) {
    size_t at = 0;
    if (!line.empty() && line[0] == '[') {
        at = line.find("] ");
        at = at == std::string::npos ? 0 : at + 2;
    }
    if (line.find(" for the database", at) != std::string::npos &&
        (line.find(" wait in ", at) != std::string::npos ||
         line.find(" waits in ", at) != std::string::npos)) {
        return true;
    }
    for (const std::string& file : TheFactory().files) {
        if (line.compare(at, file.size() + 1, file + ":") == 0) {
            return true;
        }
    }
    return false;
}

// Sleeps a while drawn from [fromMs, toMs] unless stop comes first.
void Pause(std::mt19937_64& random, int fromMs, int toMs, const std::atomic<bool>& stop) {
    const int ms = std::uniform_int_distribution<int>(fromMs, toMs)(random);
    for (int slept = 0; slept < ms && !stop; slept += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// The server away for a while.
void StopAndStart(std::mt19937_64& random, const std::atomic<bool>& stop, ChaosTally& tally) {
    Factory& factory = TheFactory();
    {
        std::lock_guard<std::mutex> guard(factory.serverLock);
        factory.server->Stop();
    }
    ++tally.serverStops;
    Pause(random, 100, 2500, stop);
    std::lock_guard<std::mutex> guard(factory.serverLock);
    factory.server->Start();
}

// A child killed at a random moment of its work; true when it had ended
// by itself before.
bool KillAtRandom(harness::ChildProcess& child, std::mt19937_64& random, int toMs) {
    const int ms = std::uniform_int_distribution<int>(0, toMs)(random);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end && !child.Exited()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (child.Exited()) {
        child.Wait(1000);
        return true;
    }
    child.Signal(SIGKILL);
    child.Wait(10000);
    return false;
}

// A download of the chaos's own, with its record, killed at a random
// moment (before, during or after its forward).
void KillARun(std::mt19937_64& random, ChaosTally& tally) {
    auto board = harness::StartBoard();
    harness::ProcessOptions options;
    options.args = {"-P", board->SlavePath(), "-F",
                    harness::WriteTempFile(harness::SampleHex(40), "chaos.hex")};
    const std::vector<std::string> records = FactoryArguments(random());
    options.args.insert(options.args.end(), records.begin(), records.end());
    harness::ChildProcess run(options);
    ++(KillAtRandom(run, random, 1500) ? tally.runsEnded : tally.runsKilled);
}

void KillAForward(std::mt19937_64& random, ChaosTally& tally) {
    const Factory& factory = TheFactory();
    harness::ProcessOptions options;
    options.args = {"--forward-records", "--report", factory.files[random() % factory.files.size()],
                    "--report-db", factory.address};
    harness::ChildProcess forward(options);
    tally.forwardsKilled += KillAtRandom(forward, random, 300) ? 0 : 1;
}

// The ids of the complete records of the files, each as often as it is
// there; lines that are no complete record are counted apart.
std::map<std::string, int> FileIds(long long& otherLines) {
    std::map<std::string, int> ids;
    for (const std::string& file : TheFactory().files) {
        RecordFile reader;
        if (!reader.Open(file, 0, 1, {"version", "mode", "outcome", "started", "run_id"})) {
            continue;
        }
        for (RecordLine line; reader.Next(line);) {
            if (IsCompleteRecord(line)) {
                ++ids[line.id];
            } else {
                ++otherLines;
            }
        }
    }
    return ids;
}

}  // namespace

bool StartFactory(const std::string& folder, std::string& why) {
    if (!harness::PostgresServer::Installed(why)) {
        return false;
    }
    Factory& factory = TheFactory();
    factory.server = std::make_unique<harness::PostgresServer>();
    factory.address = factory.server->Address("soak");
    for (int i = 0; i < kRecordFiles; ++i) {
        factory.files.push_back(folder + "/records-" + std::to_string(i) + ".jsonl");
    }
    return true;
}

bool FactoryStarted() {
    return TheFactory().server != nullptr;
}

std::vector<std::string> FactoryArguments(uint64_t seed) {
    const Factory& factory = TheFactory();
    if (factory.server == nullptr) {
        return {};
    }
    return {"--report", factory.files[seed % factory.files.size()], "--report-db", factory.address};
}

std::string WithoutForwardLines(const std::string& err) {
    std::istringstream lines(err);
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
        if (!IsForwardLine(line)) {
            kept += line + "\n";
        }
    }
    // A last line without its line end is kept as it was.
    if (!err.empty() && err.back() != '\n' && !kept.empty()) {
        kept.pop_back();
    }
    return kept;
}

void RunChaos(uint64_t seed, const std::atomic<bool>& stop, ChaosTally& tally) {
    std::mt19937_64 random(seed);
    while (!stop) {
        Pause(random, 200, 1500, stop);
        switch (random() % 4) {
            case 0:
                StopAndStart(random, stop, tally);
                break;
            case 1:
                KillAForward(random, tally);
                break;
            default:
                KillARun(random, tally);
                break;
        }
    }
}

std::vector<std::string> CheckFactory(std::string& summary) {
    Factory& factory = TheFactory();
    std::vector<std::string> problems;
    for (const std::string& file : factory.files) {
        const harness::ProcessResult forwarded = harness::RunVantoir(
            {"--forward-records", "--report", file, "--report-db", factory.address}, 600000);
        if (forwarded.exitStatus != 0) {
            problems.push_back("--forward-records of " + file + ": " +
                               harness::Describe(forwarded));
        }
    }
    long long otherLines = 0;
    const std::map<std::string, int> inFiles = FileIds(otherLines);
    std::map<std::string, int> inTable;
    std::istringstream rows(factory.server->Query("soak", "SELECT record_id FROM vantoir_records"));
    for (std::string id; std::getline(rows, id);) {
        ++inTable[id];
    }
    for (const auto& [id, count] : inTable) {
        if (count > 1) {
            problems.push_back("record " + id + " is in the table " + std::to_string(count) +
                               " times");
        }
        if (inFiles.count(id) == 0) {
            problems.push_back("record " + id + " is in the table and in no file");
        }
    }
    for (const auto& [id, count] : inFiles) {
        if (inTable.count(id) == 0) {
            problems.push_back("record " + id + " of a file is not in the table");
        }
    }
    summary = std::to_string(inFiles.size()) + " records in " + std::to_string(kRecordFiles) +
              " files (" + std::to_string(otherLines) + " other lines), " +
              std::to_string(inTable.size()) + " in the table";
    return problems;
}

}  // namespace soak
