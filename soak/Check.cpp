#include "soak/Check.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "sim/HexRecord.h"
#include "soak/Factory.h"
#include "tests/support/Harness.h"

namespace soak {
namespace {

const std::string kUploadedOk = "File uploaded OK\n";
const std::string kStartSent = "Start command sent to DSP\n";
const std::string kProgramming = "Programming flash memory...\n";
const std::string kNoRecords =
    "Error: Refusing to continue process with 0 valid lines found in file\n";
const std::string kMismatch = "Mismatch: uploaded ";
const std::string kFlashNotAcked = "Error: Flash Write command was not acknowledged\n";
const std::string kPortError = "Error occurred: COMPort: ";

int protocolFailureStatus = 1;

// The numbers the stamped runs showed, over the whole soak.
struct StampTaken {
    uint64_t seed = 0;
    std::string state;     // the ledger's closing state its run's ending calls for
    bool onBoard = false;  // the board received the whole line of the field
};

struct StampBook {
    std::mutex lock;
    std::string ledger;
    std::map<uint64_t, StampTaken> taken;
    std::vector<std::string> clashes;  // numbers shown by two runs
};

StampBook& Book() {
    static StampBook book;
    return book;
}

// "Stamp 17 reserved for 0x00000004 (u32le)": the line of a reservation.
const std::string kStampShown = "Stamp ";

std::string StampShownEnd() {
    char text[64];
    std::snprintf(text, sizeof text, " reserved for 0x%08X (u32le)\n", kStampAddress);
    return text;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Arguments(const Plan& plan, const std::string& port,
                                   const std::string& file) {
    std::vector<std::string> args = {"-P", port, "-F", file};
    if (plan.writeFlash) {
        args.push_back("-W");
    }
    if (!plan.sendStart) {
        args.push_back("-L");
    }
    if (plan.debug) {
        args.push_back("-D");
    }
    if (plan.stamped) {
        args.insert(args.end(), {"--stamp", kStampField, "--stamp-ledger", Book().ledger});
    }
    // Every run's record goes to the factory's database, when the soak has one.
    const std::vector<std::string> records = FactoryArguments(plan.seed);
    args.insert(args.end(), records.begin(), records.end());
    return args;
}

// The protocol's own waits, and what the record's forward may add.
double Allowed(const Plan& plan) {
    return plan.allowedSeconds + (FactoryStarted() ? kForwardSeconds : 0.0);
}

// The numbers out says were reserved, in order.
std::vector<uint64_t> ShownStamps(const std::string& out) {
    const std::string shownEnd = StampShownEnd();
    std::vector<uint64_t> values;
    for (size_t at = out.find(kStampShown); at != std::string::npos;
         at = out.find(kStampShown, at + 1)) {
        if (at > 0 && out[at - 1] != '\n') {
            continue;
        }
        char* end = nullptr;
        const uint64_t value = std::strtoull(out.c_str() + at + kStampShown.size(), &end, 10);
        if (end != out.c_str() + at + kStampShown.size() &&
            out.compare(static_cast<size_t>(end - out.c_str()), shownEnd.size(), shownEnd) == 0) {
            values.push_back(value);
        }
    }
    return values;
}

int HexByte(const std::string& text, size_t at) {
    return std::stoi(text.substr(at, 2), nullptr, 16);
}

// The record lines a stamped plan's board must receive, the number out
// shows in the field: the file's first line with the field's bytes and its
// checksum replaced. plan's own lines when out shows none.
std::string ExpectedRecords(const Plan& plan, const std::string& out) {
    const std::vector<uint64_t> shown = ShownStamps(out);
    if (!plan.stamped || shown.size() != 1) {
        return plan.records;
    }
    std::vector<uint8_t> data(16, 0xFF);
    for (size_t i = 0; i < kStampBytes; ++i) {
        data[kStampAddress + i] = static_cast<uint8_t>(shown[0] >> (8 * i));
    }
    const std::string plain = StampRecord();
    std::string records = plan.records;
    if (records.compare(0, plain.size(), plain) == 0) {
        records.replace(0, plain.size(), sim::FormatRecord(0, 0, data));
    }
    return records;
}

// A stamped run: the number it showed is the one its board holds (when the
// field's line reached the board whole), and no number was shown by two
// runs. The number is kept for CheckStampLedger.
std::string CheckStamp(const Plan& plan, const std::string& out, const std::string& received) {
    if (!plan.stamped) {
        return "";
    }
    const std::vector<uint64_t> shown = ShownStamps(out);
    if (shown.size() > 1) {
        return "one board was given " + std::to_string(shown.size()) + " numbers";
    }
    // The field's line as the board received it, if whole.
    const size_t start = received.find(':');
    const size_t end = start == std::string::npos ? start : received.find_first_of("\r\n", start);
    const bool whole = end != std::string::npos && end - start == StampRecord().size();
    std::optional<uint64_t> onBoard;
    if (whole) {
        uint64_t value = 0;
        for (size_t i = 0; i < kStampBytes; ++i) {
            value |= static_cast<uint64_t>(HexByte(received, start + 9 + 2 * (kStampAddress + i)))
                     << (8 * i);
        }
        onBoard = value;
    }
    if (shown.empty()) {
        return onBoard ? "the board received the field's line, but no number was reserved" : "";
    }
    if (onBoard && *onBoard != shown[0]) {
        return "the board holds stamp " + std::to_string(*onBoard) + ", the run reserved " +
               std::to_string(shown[0]);
    }
    StampBook& book = Book();
    std::lock_guard<std::mutex> guard(book.lock);
    const auto [it, fresh] = book.taken.emplace(shown[0], StampTaken());
    if (!fresh) {
        const std::string clash = "stamp " + std::to_string(shown[0]) + " given to seed " +
                                  std::to_string(it->second.seed) +
                                  (it->second.onBoard ? "'s board" : "") + " and to seed " +
                                  std::to_string(plan.seed) + (onBoard ? "'s board" : "");
        book.clashes.push_back(clash);
        return clash;
    }
    it->second.seed = plan.seed;
    it->second.state = plan.ending == Ending::Complete ? "used" : "failed";
    it->second.onBoard = onBoard.has_value();
    return "";
}

// Every ending whose signs the result shows; a sound run shows one.
std::vector<Ending> SeenEndings(const harness::ProcessResult& r) {
    std::vector<Ending> seen;
    const bool ended = r.termSignal == 0 && !r.timedOut;
    const bool failed = ended && r.exitStatus == protocolFailureStatus;
    const bool quietErr = r.err.empty();
    if (ended && r.exitStatus == 1 && r.err.rfind(kPortError, 0) == 0) {
        seen.push_back(Ending::PortError);
    }
    if (failed && quietErr && Has(r.out, kNoRecords)) {
        seen.push_back(Ending::NoRecords);
    }
    if (failed && quietErr && Has(r.out, kMismatch)) {
        seen.push_back(Ending::Mismatch);
    }
    if (failed && quietErr && Has(r.out, kFlashNotAcked)) {
        seen.push_back(Ending::FlashNotAcked);
    }
    const bool failureShown =
        Has(r.out, kNoRecords) || Has(r.out, kMismatch) || Has(r.out, kFlashNotAcked);
    if (r.exitStatus == 0 && quietErr && Has(r.out, kUploadedOk) && !failureShown) {
        seen.push_back(Ending::Complete);
    }
    return seen;
}

// The record lines as the board received them: from the first ":" to the
// "C" that follows them (or to the end, when the line broke first).
std::string ReceivedRecords(const std::string& received, bool& whole) {
    const size_t start = received.find(':');
    whole = false;
    if (start == std::string::npos) {
        return "";
    }
    const size_t end = received.find("\r\nC\r\n", start);
    whole = end != std::string::npos;
    return whole ? received.substr(start, end + 2 - start) : received.substr(start);
}

// What the board had to acknowledge before "S" came, and the ending's own
// details.
std::string CheckEndingDetails(const Plan& plan, const harness::ProcessResult& r,
                               sim::Board& board) {
    const sim::BoardSummary summary = board.Summary();
    if (Has(r.out, kUploadedOk) &&
        (plan.reportedCount != plan.recordLines || summary.records != plan.boardCount)) {
        return "\"File uploaded OK\" without the board's true count";
    }
    if (Has(r.out, kStartSent)) {
        board.WaitForReceived("S\r\n", 5000);
        const sim::BoardSummary after = board.Summary();
        if (after.startedWhileSending || (plan.writeFlash && !after.flashed) ||
            !after.countMatched) {
            return "\"Start command sent to DSP\" before the board acknowledged";
        }
    }
    if (plan.ending == Ending::Mismatch) {
        const std::string line = kMismatch + std::to_string(plan.recordLines) +
                                 " lines; DSP reported " + std::to_string(plan.reportedCount) +
                                 " lines received\n";
        return Has(r.out, line) ? "" : "mismatch message differs";
    }
    if (plan.ending == Ending::Complete) {
        if (Has(r.out, kStartSent) != plan.sendStart) {
            return "start command sent or not against -L";
        }
        if (Has(r.out, kProgramming) != plan.writeFlash) {
            return "flash step against -W";
        }
    }
    return "";
}

std::string CheckRecords(const Plan& plan, const std::string& received) {
    bool whole = false;
    const std::string records = ReceivedRecords(received, whole);
    if (plan.ending == Ending::PortError) {
        return plan.records.compare(0, records.size(), records) == 0
                   ? ""
                   : "the board received records that were not prepared";
    }
    if (plan.ending == Ending::NoRecords) {
        return records.empty() ? "" : "records sent from a file without any";
    }
    if (records != plan.records) {
        return "the board's bytes differ from the prepared lines (" +
               std::to_string(records.size()) + " received, " +
               std::to_string(plan.records.size()) + " prepared)";
    }
    return "";
}

std::string CheckShown(const Plan& plan, const harness::ProcessResult& r) {
    if (plan.ending == Ending::PortError || plan.ending == Ending::NoRecords) {
        return "";
    }
    for (const std::string& message : plan.shownMessages) {
        if (!Has(r.out, "\n" + message + "\n") && r.out.rfind(message + "\n", 0) != 0) {
            return "board message \"" + message + "\" not shown";
        }
    }
    return "";
}

// The first problem of a run whose ending was as planned: the ending's
// details, the records the board received, the board's messages shown, the
// stamp; empty when there is none.
std::string CheckWhatTheBoardGot(const Plan& plan, const harness::ProcessResult& r,
                                 sim::Board& board) {
    Plan expected = plan;
    expected.records = ExpectedRecords(plan, r.out);
    const std::string received = board.Received();
    for (const std::string& problem :
         {CheckEndingDetails(plan, r, board), CheckRecords(expected, received), CheckShown(plan, r),
          CheckStamp(plan, r.out, received)}) {
        if (!problem.empty()) {
            return problem;
        }
    }
    return "";
}

Verdict Judge(const Plan& plan, const harness::ProcessResult& result, double seconds,
              sim::Board& board) {
    // The record's forward says what it must on standard error; the
    // session's ending is judged without it.
    harness::ProcessResult r = result;
    r.err = WithoutForwardLines(result.err);
    Verdict v;
    v.seconds = seconds;
    const std::vector<Ending> seen = SeenEndings(r);
    v.ending = seen.size() == 1
                   ? EndingName(seen[0])
                   : (r.timedOut || r.termSignal != 0 ? "crashed-or-hung" : "unrecognised");
    std::string problem;
    if (seen.size() != 1 || seen[0] != plan.ending) {
        problem = "got " + v.ending;
    } else if (seconds > Allowed(plan)) {
        problem = "ran " + std::to_string(seconds) + " s, waits allow " +
                  std::to_string(Allowed(plan)) + " s";
    }
    if (problem.empty()) {
        problem = CheckWhatTheBoardGot(plan, r, board);
    }
    v.ok = problem.empty();
    if (!v.ok) {
        v.detail = problem + "\n" + harness::Describe(result);
    }
    return v;
}

int GuardMs(const Plan& plan) {
    return static_cast<int>((Allowed(plan) * 2 + 20) * 1000);
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The whole of what a board received in a clean download: polls, requests,
// the records, count queries and the start command, nothing else.
bool OnlyItsOwnDownload(const std::string& received, const std::string& records) {
    size_t at = 0;
    auto skipAll = [&](const std::string& command) {
        while (received.compare(at, command.size(), command) == 0) {
            at += command.size();
        }
    };
    skipAll("?\r\n");
    skipAll("R\r\n");
    if (received.compare(at, records.size(), records) != 0) {
        return false;
    }
    at += records.size();
    skipAll("C\r\n");
    return received.substr(at) == "S\r\n";
}

// The name a gang marks a port's lines with: the last part of the path,
// with its folder when it is a number (/dev/pts/3: "pts/3").
std::string GangMark(const std::string& port) {
    const size_t slash = port.rfind('/');
    const std::string last = port.substr(slash + 1);
    const bool number = !last.empty() && last.find_first_not_of("0123456789") == std::string::npos;
    const size_t folder =
        number && slash != std::string::npos && slash > 0 ? port.rfind('/', slash - 1) : slash;
    return "[" + port.substr(folder + 1) + "] ";
}

// The lines of text that carry mark, without it.
std::string LinesMarked(const std::string& text, const std::string& mark) {
    std::string lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        if (text.compare(at, mark.size(), mark) == 0) {
            lines += text.substr(at + mark.size(), end - at - mark.size()) + "\n";
        }
        at = end + 1;
    }
    return lines;
}

// The outcome the gang's summary gives port (the word after the board's
// identity, or "-", in the port's row), and the seconds of its run (the
// row's word under "Seconds", the last but the stamp's when a stamp column
// follows).
std::string SummaryOutcome(const std::string& out, const std::string& port,
                           const std::string& identity, double& seconds) {
    const size_t table = out.find("Gang summary:\n");
    const size_t row = table == std::string::npos ? table : out.find("\n" + port + " ", table);
    if (row == std::string::npos) {
        return "missing";
    }
    const size_t header = table + std::string("Gang summary:\n").size();
    const std::string heads = out.substr(header, out.find('\n', header) - header);
    const bool stampColumn = heads.size() >= 6 && heads.compare(heads.size() - 6, 6, " Stamp") == 0;
    const size_t end = out.find('\n', row + 1);
    size_t wordEnd = end;
    if (stampColumn) {
        wordEnd = out.find_last_not_of(' ', out.rfind(' ', end - 1)) + 1;
    }
    seconds = std::atof(out.substr(out.rfind(' ', wordEnd - 1) + 1, wordEnd).c_str());
    std::istringstream rest(out.substr(row + 1 + port.size(), end - row - 1 - port.size()));
    std::string board;
    std::string outcome;
    rest >> board;
    if (board != "-") {
        std::istringstream after(out.substr(out.find(identity, row) + identity.size(), end - row));
        after >> outcome;
        return outcome;
    }
    rest >> outcome;
    return outcome;
}

// A complete download reached the board and nothing else: polls, requests,
// the records, count queries, then "W" with -W and "S" without -L.
bool OnlyTheGangsDownload(const Plan& plan, const std::string& received) {
    size_t at = 0;
    for (const char* command : {"?\r\n", "R\r\n"}) {
        while (received.compare(at, 3, command) == 0) {
            at += 3;
        }
    }
    if (received.compare(at, plan.records.size(), plan.records) != 0) {
        return false;
    }
    at += plan.records.size();
    while (received.compare(at, 3, "C\r\n") == 0) {
        at += 3;
    }
    return received.substr(at) ==
           std::string(plan.writeFlash ? "W\r\n" : "") + (plan.sendStart ? "S\r\n" : "");
}

Verdict JudgeGangPort(const Plan& plan, const harness::ProcessResult& gang, const std::string& port,
                      sim::Board& board) {
    harness::ProcessResult r;
    r.out = LinesMarked(gang.out, GangMark(port));
    r.err = WithoutForwardLines(LinesMarked(gang.err, GangMark(port)));
    Verdict v;
    double seconds = 0;
    v.ending = SummaryOutcome(gang.out, port, plan.board.identity, seconds);
    v.seconds = seconds;
    std::string problem;
    if (gang.timedOut || gang.termSignal != 0) {
        v.ending = "crashed-or-hung";
    }
    if (v.ending != EndingName(plan.ending)) {
        problem = "got " + v.ending;
    } else if (seconds > Allowed(plan)) {
        problem = "ran " + std::to_string(seconds) + " s, waits allow " +
                  std::to_string(Allowed(plan)) + " s";
    }
    if (plan.sendStart && plan.ending == Ending::Complete) {
        board.WaitForReceived("S\r\n", 5000);
    }
    Plan expected = plan;
    expected.records = ExpectedRecords(plan, r.out);
    const std::string received = board.Received();
    if (problem.empty()) {
        problem = CheckWhatTheBoardGot(plan, r, board);
    }
    if (problem.empty() && plan.ending == Ending::Complete &&
        !OnlyTheGangsDownload(expected, received)) {
        problem = "the board received more than the gang's download";
    }
    v.ok = problem.empty();
    if (!v.ok) {
        v.detail = problem + " (port " + port + ")\n" + harness::Describe(gang);
    }
    return v;
}

}  // namespace

std::vector<Verdict> RunGangAndCheck(const std::vector<Plan>& plans) {
    std::vector<std::unique_ptr<sim::Board>> boards;
    std::string list;
    double allowed = 0;
    for (const Plan& plan : plans) {
        boards.push_back(harness::StartBoard(plan.board));
        list += (list.empty() ? "" : ",") + boards.back()->SlavePath();
        allowed = std::max(allowed, plan.allowedSeconds);
    }
    const std::string file = harness::WriteTempFile(plans[0].file);
    std::vector<std::string> args = Arguments(plans[0], "", file);
    args.erase(args.begin(), args.begin() + 2);
    args.insert(args.begin(), {"--gang", list});
    Plan longest = plans[0];
    longest.allowedSeconds = allowed;
    const harness::ProcessResult result = harness::RunVantoir(args, GuardMs(longest));
    std::vector<Verdict> verdicts;
    bool allComplete = true;
    for (size_t i = 0; i < plans.size(); ++i) {
        verdicts.push_back(JudgeGangPort(plans[i], result, boards[i]->SlavePath(), *boards[i]));
        allComplete = allComplete && plans[i].ending == Ending::Complete;
    }
    if (result.exitStatus != (allComplete ? 0 : 1) && verdicts[0].ok) {
        verdicts[0].ok = false;
        verdicts[0].detail = "gang exit status " + std::to_string(result.exitStatus) + "\n" +
                             harness::Describe(result);
    }
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    return verdicts;
}

void SetStampLedger(const std::string& path) {
    Book().ledger = path;
}

std::vector<std::string> CheckStampLedger(std::string& summary) {
    StampBook& book = Book();
    std::lock_guard<std::mutex> guard(book.lock);
    std::vector<std::string> problems = book.clashes;
    std::map<uint64_t, int> reserved;
    std::map<uint64_t, std::vector<std::string>> closed;
    std::ifstream file(book.ledger, std::ios::binary);
    long long number = 0;
    for (std::string text; std::getline(file, text);) {
        ++number;
        const nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
        if (line.is_discarded() || !line.contains("value") || !line["value"].is_number_unsigned() ||
            !line.contains("state") || !line["state"].is_string()) {
            problems.push_back(book.ledger + ":" + std::to_string(number) +
                               ": not a ledger line: " + text);
            continue;
        }
        const uint64_t value = line["value"].get<uint64_t>();
        const std::string state = line["state"].get<std::string>();
        if (state == "reserved") {
            ++reserved[value];
        } else {
            closed[value].push_back(state);
        }
    }
    int onBoards = 0;
    for (const auto& [value, count] : reserved) {
        if (count > 1) {
            problems.push_back("stamp " + std::to_string(value) + " reserved " +
                               std::to_string(count) + " times in the ledger");
        }
        if (book.taken.count(value) == 0) {
            problems.push_back("stamp " + std::to_string(value) +
                               " reserved in the ledger, but no run showed it");
        }
    }
    for (const auto& [value, taken] : book.taken) {
        onBoards += taken.onBoard ? 1 : 0;
        const std::string who =
            "stamp " + std::to_string(value) + " (seed " + std::to_string(taken.seed) + ")";
        if (reserved.count(value) == 0) {
            problems.push_back(who + " is not reserved in the ledger");
        }
        const std::vector<std::string>& states = closed[value];
        if (states.size() != 1 || states[0] != taken.state) {
            std::string seen;
            for (const std::string& state : states) {
                seen += (seen.empty() ? "" : ", ") + state;
            }
            problems.push_back(who + " closed as " + (seen.empty() ? "nothing" : seen) +
                               "; its run calls for " + taken.state);
        }
    }
    summary = std::to_string(book.taken.size()) + " numbers reserved by stamped runs, " +
              std::to_string(onBoards) + " of them on boards; " + std::to_string(reserved.size()) +
              " reserved in the ledger";
    return problems;
}

void SetProtocolFailureStatus(int status) {
    protocolFailureStatus = status;
}

Verdict RunAndCheck(const Plan& plan) {
    auto board = harness::StartBoard(plan.board);
    const std::string file = harness::WriteTempFile(plan.file);
    const auto start = std::chrono::steady_clock::now();
    harness::ProcessResult result =
        harness::RunVantoir(Arguments(plan, board->SlavePath(), file), GuardMs(plan));
    const double seconds = Since(start);
    Verdict verdict = Judge(plan, result, seconds, *board);
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    return verdict;
}

std::vector<Verdict> RunParallelAndCheck(const std::vector<Plan>& plans) {
    std::vector<std::unique_ptr<sim::Board>> boards;
    std::vector<std::unique_ptr<harness::ChildProcess>> children;
    std::vector<std::string> files;
    const auto start = std::chrono::steady_clock::now();
    for (const Plan& plan : plans) {
        boards.push_back(harness::StartBoard(plan.board));
        files.push_back(harness::WriteTempFile(plan.file));
        harness::ProcessOptions options;
        options.args = Arguments(plan, boards.back()->SlavePath(), files.back());
        children.push_back(std::make_unique<harness::ChildProcess>(options));
    }
    std::vector<Verdict> verdicts;
    for (size_t i = 0; i < plans.size(); ++i) {
        harness::ProcessResult result = children[i]->Wait(GuardMs(plans[i]));
        Verdict verdict = Judge(plans[i], result, Since(start), *boards[i]);
        boards[i]->WaitForReceived("S\r\n", 5000);
        if (verdict.ok &&
            !OnlyItsOwnDownload(boards[i]->Received(), ExpectedRecords(plans[i], result.out))) {
            verdict.ok = false;
            verdict.detail = "the board received more than its own download";
        }
        verdicts.push_back(verdict);
        std::error_code ignored;
        std::filesystem::remove(files[i], ignored);
    }
    return verdicts;
}

}  // namespace soak
