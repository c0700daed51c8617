#include "soak/LedgerFaults.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "soak/Plan.h"
#include "tests/support/FullDisk.h"
#include "tests/support/Harness.h"
#include "tests/support/PostgresServer.h"

namespace soak {
namespace {

using Json = nlohmann::json;
using Rng = std::mt19937_64;

constexpr int kGuardMs = 120000;
// The boards' line: uploads of 200 to 2000 lines take 0.2 to 2 s, long
// enough for a fault to land in the middle of one.
constexpr uint32_t kLineBaud = 460800;
// Two runs in three of the database's are --repeat runs of this many
// boards: a restart then lands between boards and in the middle of one.
constexpr int kRepeatBoards = 3;
// The full disk's runs end once the disk has refused this often.
constexpr int kDiskRefusals = 2;
constexpr int kMostDiskRuns = 10;
// A run of the database's that found the server away before the port is run
// again after a pause, so many times at most.
constexpr uint64_t kMostAttempts = 50;
constexpr int kAttemptPauseMs = 200;

int Between(Rng& rng, int low, int high) {
    return low + static_cast<int>(rng() % static_cast<uint64_t>(high - low + 1));
}

// What one run left: its output and status, and the records it wrote.
struct Trace {
    std::string name;
    harness::ProcessResult result;
    std::vector<Json> records;
};

// What the runs of one fault say of their numbers.
struct Book {
    std::mutex lock;
    std::string ledger;                        // as the messages name it
    std::map<uint64_t, std::string> closedAs;  // closed in the ledger, so
    std::set<uint64_t> notClosed;              // said not to be closed
    int notReserved = 0;                       // numbers said not to be reserved
    int awayBeforePort = 0;                    // runs that found the ledger away before the port
    int boards = 0;
    std::vector<std::string> problems;
};

std::vector<Json> ReadRecords(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<Json> records;
    for (std::string line; std::getline(file, line);) {
        records.push_back(Json::parse(line, nullptr, false));
    }
    return records;
}

std::string StateAfter(const std::string& outcome) {
    return outcome == "complete" ? "used" : outcome == "interrupted" ? "interrupted" : "failed";
}

// One board's record: its number closed as its outcome says, or said not to
// be; no number given twice; a number not reserved said.
void JudgeRecord(const Json& record, const Trace& trace, Book& book, std::string& problem) {
    const std::string outcome = record.value("outcome", "");
    const Json& stamp = record["stamp"];
    const std::string said = "Stamp ledger " + book.ledger + ": ";
    ++book.boards;
    if (stamp.is_null()) {
        const bool shown = trace.result.err.find(said) != std::string::npos;
        if (outcome == "ledger-error" && shown && record["records_sent"] == 0) {
            ++book.notReserved;
        } else if (outcome == "file-error" && trace.result.err.rfind(said, 0) == 0) {
            ++book.awayBeforePort;
        } else {
            problem = "a board without a number ended " + outcome;
        }
        return;
    }
    const uint64_t value = stamp["value"].get<uint64_t>();
    const std::string number = std::to_string(value);
    if (book.closedAs.count(value) != 0 || book.notClosed.count(value) != 0) {
        problem = "stamp " + number + " given twice";
    } else if (stamp["closed"] == true) {
        book.closedAs[value] = StateAfter(outcome);
    } else {
        book.notClosed.insert(value);
        if (trace.result.err.find(said + "stamp " + number + " could not be closed as ") ==
                std::string::npos ||
            outcome == "complete") {
            problem = "stamp " + number + " not closed, and its run ended " + outcome +
                      " without a word of it";
        }
    }
}

void Judge(const Trace& trace, Book& book) {
    const harness::ProcessResult& r = trace.result;
    std::string problem;
    bool complete = !trace.records.empty();
    if (r.timedOut || r.termSignal != 0) {
        problem = "did not end by itself";
    }
    std::lock_guard<std::mutex> guard(book.lock);
    for (const Json& record : trace.records) {
        complete = complete && record.value("outcome", "") == "complete";
        if (problem.empty()) {
            JudgeRecord(record, trace, book, problem);
        }
    }
    if (problem.empty() && trace.records.empty()) {
        problem = "wrote no record";
    }
    if (problem.empty() && r.exitStatus != (complete ? 0 : 1)) {
        problem = "exit status " + std::to_string(r.exitStatus);
    }
    if (!problem.empty()) {
        book.problems.push_back(trace.name + ": " + problem + "\n" + harness::Describe(r));
    }
}

// The ledger at the end (each number's states, in order) against the
// records: every number closed as its record says, none left reserved
// without a word (beyond the numbers said not to be reserved: a reservation
// whose commit went unanswered while the server stayed away may have been
// made).
void CheckLedger(const std::map<uint64_t, std::vector<std::string>>& ledger, Book& book) {
    int orphans = 0;
    for (const auto& [value, states] : ledger) {
        const std::string number = std::to_string(value);
        const auto closed = book.closedAs.find(value);
        if (states.empty() || states.front() != "reserved" ||
            std::count(states.begin(), states.end(), "reserved") != 1) {
            book.problems.push_back("stamp " + number + " is not reserved once in the ledger");
        } else if (closed != book.closedAs.end() && states.back() != closed->second) {
            book.problems.push_back("stamp " + number + " is " + states.back() +
                                    " in the ledger; its record calls for " + closed->second);
        } else if (closed == book.closedAs.end() && book.notClosed.count(value) == 0) {
            orphans += states.back() == "reserved" ? 1 : 0;
            if (states.back() != "reserved") {
                book.problems.push_back("stamp " + number + " is " + states.back() +
                                        " in the ledger, but no record has it");
            }
        }
    }
    for (const auto& [value, state] : book.closedAs) {
        if (ledger.count(value) == 0) {
            book.problems.push_back("stamp " + std::to_string(value) + " is not in the ledger");
        }
    }
    if (orphans > book.notReserved) {
        book.problems.push_back(std::to_string(orphans) +
                                " numbers left reserved in the ledger without a word");
    }
}

std::string Counted(const Book& book) {
    return std::to_string(book.boards) + " boards: " + std::to_string(book.closedAs.size()) +
           " numbers closed, " + std::to_string(book.notClosed.size()) + " said not closed, " +
           std::to_string(book.notReserved) + " said not reserved, " +
           std::to_string(book.awayBeforePort) + " runs refused before the port";
}

// Runs vantoir once (boards > 1: --boards, each board taken away and the
// next put on as the run asks) on a board of its own.
Trace RunStamped(uint64_t seed, const std::string& ledger, int boards,
                 const harness::FullDisk* disk) {
    const Plan plan = MakeCleanPlan(seed, true);
    sim::BoardConfig config = plan.board;
    config.baudRate = kLineBaud;
    auto board = harness::StartBoard(config);
    const std::string file = harness::WriteTempFile(plan.file);
    const std::string report = harness::WriteTempFile("", "report.jsonl");
    harness::ProcessOptions options;
    options.args = {"-P",
                    board->SlavePath(),
                    "-F",
                    file,
                    "--stamp",
                    kStampField,
                    "--stamp-ledger",
                    ledger,
                    "--report",
                    report,
                    "--run-id",
                    "soak-" + std::to_string(seed)};
    if (boards > 1) {
        options.args.insert(options.args.end(), {"--boards", std::to_string(boards)});
    }
    if (disk != nullptr) {
        disk->Apply(options);
    }
    harness::ChildProcess child(options);
    for (int done = 1; done < boards; ++done) {
        const std::string away = "Take board " + std::to_string(done) +
                                 " away (or switch it off); the next board is awaited once "
                                 "the line is quiet.\n\nPlease cycle the power";
        if (!child.WaitForStdout("Take board " + std::to_string(done) + " away", kGuardMs)) {
            break;
        }
        board->SetPowered(false);
        if (!child.WaitForStdout(away, kGuardMs)) {
            break;
        }
        board->SetPowered(true);
    }
    Trace trace;
    trace.name = "seed " + std::to_string(seed) + (boards > 1 ? " (--boards)" : "");
    trace.result = child.Wait(kGuardMs);
    trace.records = ReadRecords(report);
    return trace;
}

// A run that ended before the port was opened: its ledger away at its
// start ("Stamp ledger NAME: why", outcome file-error).
bool RefusedBeforePort(const Trace& trace) {
    return trace.records.size() == 1 && trace.records[0]["stamp"].is_null() &&
           trace.records[0].value("outcome", "") == "file-error" &&
           trace.result.err.rfind("Stamp ledger ", 0) == 0;
}

// Sleeps ms, or less once stop is set (when stoppable).
void Pause(int ms, const std::atomic<bool>* stop) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end && (stop == nullptr || !*stop)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Stops and starts the server at random moments until done; one stop in
// five outlasts the program's patience.
void StopAndStart(harness::PostgresServer& server, uint64_t seed, const std::atomic<bool>& done,
                  int& stops, std::vector<std::string>& problems) {
    Rng rng(seed);
    try {
        while (!done) {
            Pause(Between(rng, 800, 2500), &done);
            if (done) {
                break;
            }
            server.Stop();
            ++stops;
            Pause(rng() % 5 == 0 ? 6000 : Between(rng, 100, 1500), nullptr);
            server.Start();
        }
    } catch (const std::exception& error) {
        problems.push_back(std::string("the server could not be stopped or started: ") +
                           error.what());
    }
}

// The table's numbers and their states ("value state" rows).
std::map<uint64_t, std::vector<std::string>> TableStates(harness::PostgresServer& server) {
    std::map<uint64_t, std::vector<std::string>> states;
    std::string table;
    try {
        table = server.Query(
            "soak", "SELECT value || ' ' || state FROM vantoir_stamp_ledger ORDER BY value_key");
    } catch (const std::runtime_error&) {
        // No run came as far as making the table.
    }
    std::istringstream rows(table);
    uint64_t value = 0;
    std::string state;
    while (rows >> value >> state) {
        // A row holds the last state; a closed number was reserved first.
        states[value] = state == "reserved" ? std::vector<std::string>{state}
                                            : std::vector<std::string>{"reserved", state};
    }
    return states;
}

// The file ledger's numbers and their states, line by line; a line that
// does not parse or has no line end is a problem.
std::map<uint64_t, std::vector<std::string>> FileStates(const std::string& path,
                                                        std::vector<std::string>& problems) {
    std::ifstream file(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    std::map<uint64_t, std::vector<std::string>> states;
    if (!text.empty() && text.back() != '\n') {
        problems.push_back(path + ": a torn line at the end");
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const Json parsed = Json::parse(line, nullptr, false);
        if (parsed.is_discarded() || !parsed["value"].is_number_unsigned()) {
            problems.push_back(path + ": not a ledger line: " + line.substr(0, 200));
        } else if (!parsed.contains("note")) {
            states[parsed["value"].get<uint64_t>()].push_back(parsed.value("state", ""));
        }
    }
    return states;
}

}  // namespace

std::vector<std::string> RunDatabaseFaults(uint64_t seed, int runs, int jobs,
                                           std::string& summary) {
    std::string why;
    if (!harness::PostgresServer::Installed(why)) {
        summary = "skipped: " + why;
        return {};
    }
    harness::PostgresServer server;
    Book book;
    book.ledger = server.Address("soak");
    std::atomic<bool> done{false};
    int stops = 0;
    std::vector<std::string> faultProblems;
    std::thread faults(StopAndStart, std::ref(server), seed, std::cref(done), std::ref(stops),
                       std::ref(faultProblems));
    std::atomic<int> next{0};
    std::vector<std::thread> workers;
    for (int j = 0; j < std::max(1, std::min(jobs, runs)); ++j) {
        workers.emplace_back([&] {
            for (int i = next++; i < runs; i = next++) {
                // A run that found the server away before the port is run
                // again, so that the runs counted met it under way.
                for (uint64_t attempt = 0; attempt < kMostAttempts; ++attempt) {
                    const Trace trace =
                        RunStamped(seed + static_cast<uint64_t>(i) + 1000000 * attempt, book.ledger,
                                   i % 3 != 0 ? kRepeatBoards : 1, nullptr);
                    Judge(trace, book);
                    if (!RefusedBeforePort(trace)) {
                        break;
                    }
                    Pause(kAttemptPauseMs, nullptr);
                }
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    done = true;
    faults.join();
    book.problems.insert(book.problems.end(), faultProblems.begin(), faultProblems.end());
    CheckLedger(TableStates(server), book);
    summary = std::to_string(runs) + " runs, the server stopped " + std::to_string(stops) +
              " times; " + Counted(book);
    return book.problems;
}

std::vector<std::string> RunFullDiskFaults(uint64_t seed, std::string& summary) {
    Rng rng(seed);
    const size_t room = static_cast<size_t>(Between(rng, 150, 1600));
    // One line of a used number, padded out to the length asked for.
    const auto padded = [](size_t length) {
        const std::string head = "{\"value\": 100000, \"state\": \"used\", \"note\": \"";
        return head + std::string(length - head.size() - 3, 'x') + "\"}\n";
    };
    const harness::FullDisk disk("ledger.jsonl", padded, room);
    Book book;
    book.ledger = disk.Path();
    int runs = 0;
    for (int refusals = 0; refusals < kDiskRefusals && runs < kMostDiskRuns; ++runs) {
        const Trace trace = RunStamped(seed + static_cast<uint64_t>(runs), disk.Path(), 1, &disk);
        for (const Json& record : trace.records) {
            refusals += record.value("outcome", "") == "ledger-error" ? 1 : 0;
        }
        Judge(trace, book);
    }
    CheckLedger(FileStates(disk.Path(), book.problems), book);
    summary = std::to_string(runs) + " runs, room for " + std::to_string(room) + " bytes (" +
              (disk.OnTmpfs() ? "a full tmpfs" : "a file size limit") + "); " + Counted(book);
    return book.problems;
}

}  // namespace soak
