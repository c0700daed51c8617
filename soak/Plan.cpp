#include "soak/Plan.h"

#include <algorithm>
#include <cstdlib>
#include <random>

#include "fuzz/Models.h"
#include "sim/HexRecord.h"

namespace soak {
namespace {

using Rng = std::mt19937_64;

// Every read of the upload yields at most this many characters, plus one.
constexpr size_t kReadBytes = 10000;
// The reply time-out: a wait shorter than this by a safe margin is met, one
// longer by a safe margin is not.
constexpr int kShortWaitMs[] = {2000, 2600};
constexpr int kLongWaitMs[] = {3400, 4000};

bool Chance(Rng& rng, int percent) {
    return static_cast<int>(rng() % 100) < percent;
}

int Between(Rng& rng, int low, int high) {
    return low + static_cast<int>(rng() % static_cast<uint64_t>(high - low + 1));
}

// A wait on either side of the reply time-out.
int AroundTimeout(Rng& rng, bool& late) {
    late = Chance(rng, 50);
    return late ? Between(rng, kLongWaitMs[0], kLongWaitMs[1])
                : Between(rng, kShortWaitMs[0], kShortWaitMs[1]);
}

std::string RecordLine(Rng& rng, int index, bool last) {
    if (last) {
        return ":00000001FF";
    }
    std::vector<uint8_t> data(
        static_cast<size_t>(Chance(rng, 3) ? Between(rng, 33, 255) : Between(rng, 0, 32)));
    for (uint8_t& byte : data) {
        byte = static_cast<uint8_t>(rng());
    }
    return sim::FormatRecord(static_cast<uint16_t>(index * 16), 0, data);
}

// A line the download skips: a comment, a blank line, a blank before the
// colon, or now and then one so long that its second piece begins with ":".
std::string SkippedLine(Rng& rng) {
    switch (rng() % 5) {
        case 0:
            return "";
        case 1:
            return " :10000000FFFF";
        case 2:
            return "# generated " + std::to_string(rng() % 1000);
        case 3:
            return Chance(rng, 10) ? "; " + std::string(kReadBytes - 3, '=') + ":not a record"
                                   : "; section";
        default:
            return "; note\x1A in the middle";  // 0x1A cuts this line in two
    }
}

std::string LineEnd(Rng& rng, int style) {
    if (style == 2) {
        style = static_cast<int>(rng() % 2);
    }
    if (Chance(rng, 1)) {
        return "\r\r\n";  // the first CR goes, the second stays before LF
    }
    return style == 0 ? "\n" : "\r\n";
}

int RecordCount(Rng& rng) {
    switch (rng() % 10) {
        case 0:
            return 0;
        case 1:
        case 2:
        case 3:
        case 4:
            return Between(rng, 1, 60);
        case 5:
        case 6:
        case 7:
            return Between(rng, 60, 800);
        default:
            return Between(rng, 800, 5000);
    }
}

std::string MakeFile(Rng& rng, std::string& faults) {
    const int records = RecordCount(rng);
    const int endStyle = static_cast<int>(rng() % 3);
    const int skipPercent = Chance(rng, 50) ? 0 : Between(rng, 1, 20);
    std::vector<std::string> lines;
    if (Chance(rng, 50)) {
        lines.push_back("; upload file of " + std::to_string(records) + " records");
    }
    for (int i = 0; i < records; ++i) {
        while (Chance(rng, skipPercent)) {
            lines.push_back(SkippedLine(rng));
        }
        lines.push_back(RecordLine(rng, i, i + 1 == records));
    }
    std::string file;
    const size_t eofAt = Chance(rng, 15) ? rng() % (lines.size() + 1) : lines.size() + 1;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i == eofAt) {
            file += '\x1A';
            faults += "eof-mark ";
        }
        file += lines[i] + LineEnd(rng, endStyle);
    }
    const bool shortLast = !lines.empty() && lines.back().size() < 200;
    if (shortLast && eofAt > lines.size() && Chance(rng, 30)) {
        while (!file.empty() && (file.back() == '\n' || file.back() == '\r')) {
            file.pop_back();
        }
        faults += "no-final-line-end ";
    }
    faults += "records=" + std::to_string(records) + " ";
    return file;
}

// The record lines as they go out: a plain reading of the file's rules.
void ExpectRecords(Plan& plan) {
    size_t consumed = 0;
    const std::vector<std::string> sent = model::SentRecords(plan.file, kReadBytes, &consumed);
    for (const std::string& line : sent) {
        plan.records += line;
    }
    plan.recordLines = static_cast<int>(sent.size());
    // The board takes lines ending at CR or LF and counts those beginning
    // with ":".
    plan.boardCount = 0;
    bool lineStart = true;
    for (char c : plan.records) {
        if (c == '\r' || c == '\n') {
            lineStart = true;
            continue;
        }
        plan.boardCount += (lineStart && c == ':') ? 1 : 0;
        lineStart = false;
    }
}

void DrawMessages(Rng& rng, Plan& plan) {
    sim::BoardConfig& b = plan.board;
    if (Chance(rng, 20)) {
        b.pollMessages = {"-Boot loader starting"};
        plan.shownMessages.push_back("Boot loader starting");
        plan.faults += "poll-messages ";
    }
    if (Chance(rng, 20)) {
        b.greeting = {"-Ready", "plain text", "+stray acknowledgement"};
        plan.faults += "greeting ";
    }
    if (Chance(rng, 20)) {
        b.requestMessages = {"-Erasing the buffer"};
        plan.shownMessages.push_back("Erasing the buffer");
        plan.faults += "request-messages ";
    }
    if (Chance(rng, 15)) {
        b.countMessages = {"-Checking records"};
        plan.shownMessages.push_back("Checking records");
        plan.faults += "count-messages ";
    }
    if (Chance(rng, 15)) {
        b.recordMessageInterval = Between(rng, 50, 500);
        if (plan.boardCount >= b.recordMessageInterval) {
            plan.shownMessages.push_back("Received " + std::to_string(b.recordMessageInterval) +
                                         " records");
        }
        plan.faults += "record-messages ";
    }
    if (Chance(rng, 10)) {
        b.startMessages = {"-Program running", "+started"};
        plan.faults += "start-messages ";
    }
    if (Chance(rng, 10)) {
        static const char* const kNoise[] = {"~noise~\r\n", "\n\r", "\r\r", "x\r\n"};
        b.noiseBeforeLines = kNoise[rng() % 4];
        plan.faults += "noise-lines ";
    }
    // Pauses inside a line stay well under the 50 ms of quiet that ends the
    // taking of stale answers before a command.
    if (Chance(rng, 15)) {
        b.splitPauseMs = Between(rng, 1, 20);
        plan.faults += "split-replies ";
    }
}

// drawFlash: whether -W is drawn here too (a gang's runs share it).
void DrawAnswers(Rng& rng, Plan& plan, bool& flashLate, bool drawFlash = true) {
    sim::BoardConfig& b = plan.board;
    bool late = false;
    if (Chance(rng, 30)) {
        b.silentPolls = Between(rng, 1, 20);
        plan.faults += "silent-polls ";
    }
    if (Chance(rng, 4)) {
        b.ignoreRequests = 1;
        plan.faults += "ignored-request ";
    }
    if (Chance(rng, 4)) {
        b.ignoreCounts = 1;
        plan.faults += "ignored-count ";
    }
    if (Chance(rng, 15)) {
        b.repeatAcks = Between(rng, 1, 3);
        plan.faults += "repeated-acks ";
    }
    if (Chance(rng, 8)) {
        b.lateRequestMs = AroundTimeout(rng, late);
        plan.faults += late ? "late-request-ack " : "slow-request-ack ";
    }
    if (Chance(rng, 8)) {
        b.lateCountMs = AroundTimeout(rng, late);
        plan.faults += late ? "late-count-ack " : "slow-count-ack ";
    }
    if (drawFlash) {
        plan.writeFlash = Chance(rng, 40);
    }
    b.expectFlash = plan.writeFlash;
    b.flashProgressLines = Between(rng, 0, 5);
    b.flashIntervalMs = Between(rng, 20, 400);
    flashLate = false;
    if (plan.writeFlash && Chance(rng, 8)) {
        b.flashAckDelayMs = AroundTimeout(rng, flashLate) - b.flashIntervalMs;
        plan.faults += flashLate ? "late-flash-ack " : "slow-flash-ack ";
    }
    if (plan.writeFlash && Chance(rng, 6)) {
        b.flashNeverAck = true;
        flashLate = true;
        plan.faults += "flash-never-acked ";
    }
}

// The count the board reports, and its answer line when it is odd.
void DrawCount(Rng& rng, Plan& plan) {
    sim::BoardConfig& b = plan.board;
    plan.reportedCount = plan.boardCount;
    if (Chance(rng, 7)) {
        b.countOffset = Between(rng, 1, 3) * (Chance(rng, 50) ? 1 : -1);
        plan.reportedCount += b.countOffset;
        plan.faults += "wrong-count ";
    } else if (Chance(rng, 10)) {
        const std::string n = std::to_string(plan.boardCount);
        const std::string replies[] = {"+" + n + " lines", "+ " + n, "+" + n + "\tok", "+0" + n,
                                       "+x" + n};
        const std::string reply = replies[rng() % 5];
        b.countReply = reply;
        plan.reportedCount = std::atoi(reply.c_str() + 1);
        plan.faults += "junk-after-count ";
    }
}

// A hang-up at a byte before the count is asked for (always with force).
void DrawHangUp(Rng& rng, Plan& plan, bool force = false) {
    if (!Chance(rng, 8) && !force) {
        return;
    }
    const int64_t before = 3LL * (plan.board.silentPolls + 1) +
                           3LL * (plan.board.ignoreRequests + 1) +
                           static_cast<int64_t>(plan.records.size());
    plan.board.hangUpAfterBytes = 1 + static_cast<int64_t>(rng() % static_cast<uint64_t>(before));
    plan.faults += "hang-up-at-" + std::to_string(plan.board.hangUpAfterBytes) + " ";
}

Ending ExpectEnding(const Plan& plan, bool flashLate) {
    if (plan.board.hangUpAfterBytes > 0) {
        return Ending::PortError;
    }
    if (plan.recordLines == 0) {
        return Ending::NoRecords;
    }
    if (plan.reportedCount != plan.recordLines) {
        return Ending::Mismatch;
    }
    if (plan.writeFlash && flashLate) {
        return Ending::FlashNotAcked;
    }
    return Ending::Complete;
}

// What the protocol's own waits add up to, with room for a loaded machine.
double AllowedSeconds(const Plan& plan) {
    const sim::BoardConfig& b = plan.board;
    double s = 2.5 + 0.06 * b.silentPolls + 3.2 * (b.ignoreRequests + b.ignoreCounts);
    s += (b.lateRequestMs + b.lateCountMs) / 1000.0;
    s += static_cast<double>(plan.file.size()) / 40000.0;
    if (plan.writeFlash) {
        s += (b.flashProgressLines + 1) * b.flashIntervalMs / 1000.0 + 3.2 +
             b.flashAckDelayMs / 1000.0;
    }
    const double boardLines =
        (b.silentPolls + 1.0) * (static_cast<double>(b.pollMessages.size()) + 1) + 20 +
        (b.recordMessageInterval > 0 ? plan.boardCount / b.recordMessageInterval : 0) +
        b.flashProgressLines;
    s += boardLines * 2 * b.splitPauseMs / 1000.0;
    return 1.5 * s + 2.0;
}

}  // namespace

const char* EndingName(Ending ending) {
    switch (ending) {
        case Ending::Complete:
            return "complete";
        case Ending::NoRecords:
            return "no-records";
        case Ending::Mismatch:
            return "count-mismatch";
        case Ending::FlashNotAcked:
            return "flash-not-acknowledged";
        case Ending::PortError:
            return "port-error";
    }
    return "?";
}

std::string StampRecord() {
    return sim::FormatRecord(0, 0, std::vector<uint8_t>(16, 0xFF));
}

Plan MakePlan(uint64_t seed) {
    Rng rng(seed);
    Plan plan;
    plan.seed = seed;
    if (seed % 4 == 1) {
        // A plain file of data records, the field's first.
        plan.stamped = true;
        const int records = Between(rng, 2, 800);
        const int endStyle = static_cast<int>(rng() % 3);
        plan.file = StampRecord() + LineEnd(rng, endStyle);
        for (int i = 1; i < records; ++i) {
            plan.file += RecordLine(rng, i, i + 1 == records) + LineEnd(rng, endStyle);
        }
        plan.faults += "stamped records=" + std::to_string(records) + " ";
    } else {
        plan.file = MakeFile(rng, plan.faults);
    }
    ExpectRecords(plan);
    DrawMessages(rng, plan);
    bool flashLate = false;
    DrawAnswers(rng, plan, flashLate);
    DrawCount(rng, plan);
    DrawHangUp(rng, plan);
    plan.sendStart = !Chance(rng, 20);
    plan.board.expectStart = plan.sendStart;
    plan.debug = Chance(rng, 20);
    plan.ending = ExpectEnding(plan, flashLate);
    plan.allowedSeconds = AllowedSeconds(plan);
    return plan;
}

std::vector<Plan> MakeGangPlans(uint64_t seed) {
    std::vector<Plan> plans = {MakePlan(seed)};
    const Plan first = plans[0];
    for (int port = 1; port < kGangPorts; ++port) {
        Rng rng(seed * kGangPorts + static_cast<uint64_t>(port));
        Plan plan;
        plan.seed = seed;
        plan.stamped = first.stamped;
        plan.file = first.file;
        plan.writeFlash = first.writeFlash;
        plan.sendStart = first.sendStart;
        plan.debug = first.debug;
        plan.board.expectStart = plan.sendStart;
        plan.board.expectFlash = plan.writeFlash;
        ExpectRecords(plan);
        bool flashLate = false;
        // The second port's board hangs up; the last one's plays no fault.
        if (port + 1 < kGangPorts) {
            DrawMessages(rng, plan);
            DrawAnswers(rng, plan, flashLate, false);
            DrawCount(rng, plan);
            DrawHangUp(rng, plan, port == 1);
        } else {
            plan.reportedCount = plan.boardCount;
        }
        plan.faults = "gang port " + std::to_string(port + 1) + ": " + plan.faults;
        plan.ending = ExpectEnding(plan, flashLate);
        plan.allowedSeconds = AllowedSeconds(plan);
        plans.push_back(plan);
    }
    plans[0].faults = "gang port 1: " + plans[0].faults;
    return plans;
}

Plan MakeCleanPlan(uint64_t seed, bool stamped) {
    Rng rng(seed);
    Plan plan;
    plan.seed = seed;
    plan.stamped = stamped;
    const int records = Between(rng, 200, 2000);
    for (int i = 0; i < records; ++i) {
        plan.file +=
            (stamped && i == 0 ? StampRecord() : RecordLine(rng, i, i + 1 == records)) + "\n";
    }
    ExpectRecords(plan);
    plan.reportedCount = plan.boardCount;
    plan.allowedSeconds = AllowedSeconds(plan) + 5.0;
    return plan;
}

}  // namespace soak
