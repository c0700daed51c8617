#include "sim/LoaderProtocol.h"

#include <cstdlib>

namespace sim {

namespace {

// A host line longer than this is cut (the rest is still read and dropped);
// the longest record the host sends is far shorter.
constexpr size_t kMaxLineBytes = 1 << 20;

// The number at the start of text, read the way the host reads a count:
// leading blanks, an optional sign, then digits; 0 without digits.
long LeadingNumber(const std::string& text) {
    return std::strtol(text.c_str(), nullptr, 10);
}

// text with its first "%d" replaced by value and "%%" by "%".
std::string FillPercent(const std::string& text, int value) {
    std::string result;
    bool filled = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size()) {
            if (text[i + 1] == '%') {
                result += '%';
                ++i;
                continue;
            }
            if (text[i + 1] == 'd' && !filled) {
                result += std::to_string(value);
                filled = true;
                ++i;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

bool IsCommandLetter(char c) {
    return c == '?' || c == 'R' || c == 'C' || c == 'W' || c == 'S';
}

}  // namespace

LoaderProtocol::LoaderProtocol(const BoardConfig& boardConfig) : config(boardConfig) {}

std::vector<Emission> LoaderProtocol::Feed(std::string_view bytes) {
    std::vector<Emission> out;
    lastTaken = 0;
    if (hangUpDue) {
        return out;
    }
    int64_t limit = BytesBeforeHangUp();
    if (limit >= 0 && static_cast<int64_t>(bytes.size()) > limit) {
        bytes = bytes.substr(0, static_cast<size_t>(limit));
    }
    if (!connected && !bytes.empty()) {
        connected = true;
        if (!config.noiseOnConnect.empty()) {
            out.push_back({0, config.noiseOnConnect});
        }
    }
    for (char byte : bytes) {
        ++lastTaken;
        ++summary.bytesReceived;
        TakeByte(byte, out);
        if (hangUpDue) {
            break;
        }
    }
    std::string_view taken = bytes.substr(0, lastTaken);
    if (config.echo && !taken.empty()) {
        out.insert(out.begin(), Emission{0, std::string(taken)});
    }
    if (!config.answerOnReceive.empty() && !taken.empty()) {
        out.push_back({0, config.answerOnReceive});
    }
    if (config.hangUpAfterBytes > 0 && summary.bytesReceived >= config.hangUpAfterBytes) {
        hangUpDue = true;
    }
    return out;
}

int64_t LoaderProtocol::BytesBeforeHangUp() const {
    if (config.hangUpAfterBytes <= 0) {
        return -1;
    }
    if (hangUpDue) {
        return 0;
    }
    int64_t left = config.hangUpAfterBytes - summary.bytesReceived;
    return left > 0 ? left : 0;
}

void LoaderProtocol::TakeByte(char byte, std::vector<Emission>& out) {
    if (!config.loaderProtocol) {
        return;
    }
    if (byte != '\r' && byte != '\n') {
        if (partialLine.size() < kMaxLineBytes) {
            partialLine += byte;
        }
        return;
    }
    if (partialLine.empty()) {
        return;
    }
    std::string line;
    line.swap(partialLine);
    TakeLine(line, out);
}

void LoaderProtocol::TakeLine(const std::string& line, std::vector<Emission>& out) {
    if (line[0] == ':') {
        TakeRecord(line, out);
    } else if (line == "?") {
        AnswerPoll(out);
    } else if (line == "R") {
        AnswerRequest(out);
    } else if (line == "C") {
        AnswerCount(out);
    } else if (line == "W") {
        AnswerFlash(out);
    } else if (line == "S") {
        AnswerStart(out);
    } else {
        ++summary.unknownLines;
    }
    UpdateComplete();
}

void LoaderProtocol::TakeRecord(const std::string& line, std::vector<Emission>& out) {
    if (!requested) {
        ++summary.strayRecords;
        return;
    }
    RecordStatus status = CheckRecord(line);
    std::string trailingCommand;
    if (status != RecordStatus::Ok && config.recoverTrailingCommand && line.size() > 1 &&
        IsCommandLetter(line.back()) &&
        CheckRecord(std::string_view(line).substr(0, line.size() - 1)) == RecordStatus::Ok) {
        status = RecordStatus::Ok;
        trailingCommand = line.substr(line.size() - 1);
    }
    ++summary.records;
    summary.countMatched = false;
    summary.flashed = false;
    summary.started = false;
    if (status != RecordStatus::Ok) {
        ++summary.badRecords;
        if (status == RecordStatus::BadChecksum) {
            ++summary.checksumErrors;
        } else if (status == RecordStatus::BadLength) {
            ++summary.lengthErrors;
        } else {
            ++summary.syntaxErrors;
        }
        badRecordNotes.push_back("-Line " + std::to_string(summary.records) + ": " +
                                 RecordStatusText(status));
    }
    if (config.recordMessageInterval > 0 && summary.records % config.recordMessageInterval == 0) {
        EmitLine("-Received " + std::to_string(summary.records) + " records", 0, out);
    }
    if (config.hangUpAfterRecords > 0 && summary.records >= config.hangUpAfterRecords) {
        hangUpDue = true;
        return;
    }
    if (!trailingCommand.empty()) {
        TakeLine(trailingCommand, out);
    }
}

void LoaderProtocol::AnswerPoll(std::vector<Emission>& out) {
    ++summary.polls;
    if (Silent()) {
        return;
    }
    for (const std::string& message : config.pollMessages) {
        EmitLine(message, 0, out);
    }
    if (ignoredPolls < config.silentPolls) {
        ++ignoredPolls;
        return;
    }
    EmitAck("+" + config.identity, 0, out);
    for (const std::string& line : config.greeting) {
        EmitLine(line, 0, out);
    }
    summary.identified = true;
}

void LoaderProtocol::AnswerRequest(std::vector<Emission>& out) {
    ++summary.requests;
    if (Silent()) {
        return;
    }
    if (ignoredRequests < config.ignoreRequests) {
        ++ignoredRequests;
        return;
    }
    const int late = requestAnswered ? 0 : config.lateRequestMs;
    requestAnswered = true;
    if (late > 0) {
        out.push_back({late, ""});
    }
    for (const std::string& message : config.requestMessages) {
        EmitLine(message, 0, out);
    }
    EmitAck("+", 0, out);
    requested = true;
    summary.records = 0;
    summary.badRecords = 0;
    summary.checksumErrors = 0;
    summary.lengthErrors = 0;
    summary.syntaxErrors = 0;
    summary.countMatched = false;
    summary.flashed = false;
    summary.started = false;
    badRecordNotes.clear();
}

void LoaderProtocol::AnswerCount(std::vector<Emission>& out) {
    ++summary.countQueries;
    if (Silent()) {
        return;
    }
    if (ignoredCounts < config.ignoreCounts) {
        ++ignoredCounts;
        return;
    }
    const int late = countAnswered ? 0 : config.lateCountMs;
    countAnswered = true;
    if (late > 0) {
        out.push_back({late, ""});
    }
    for (const std::string& note : badRecordNotes) {
        EmitLine(note, 0, out);
    }
    for (const std::string& message : config.countMessages) {
        EmitLine(message, 0, out);
    }
    std::string reply = config.countReply
                            ? *config.countReply
                            : "+" + std::to_string(summary.records + config.countOffset);
    EmitAck(reply, 0, out);
    summary.countMatched = requested && !reply.empty() && reply[0] == '+' &&
                           LeadingNumber(reply.substr(1)) == summary.records;
    summary.flashed = false;
    summary.started = false;
}

void LoaderProtocol::AnswerFlash(std::vector<Emission>& out) {
    ++summary.flashes;
    if (Silent()) {
        return;
    }
    int lines = config.flashProgressLines > 0 ? config.flashProgressLines : 0;
    for (int i = 1; i <= lines; ++i) {
        EmitLine(FillPercent(config.flashProgressText, 100 * i / lines), config.flashIntervalMs,
                 out);
    }
    if (config.flashNeverAck) {
        return;
    }
    const size_t first = out.size();
    const size_t end = EmitAck("+", config.flashIntervalMs + config.flashAckDelayMs, out);
    for (size_t i = first; i < end; ++i) {
        // The host has the line once its CR is out.
        out[i].flashAcknowledgement = out[i].bytes.find('\r') != std::string::npos;
    }
    summary.flashed = summary.countMatched;
}

void LoaderProtocol::AnswerStart(std::vector<Emission>& out) {
    ++summary.starts;
    if (Silent()) {
        return;
    }
    summary.started = summary.countMatched && (!config.expectFlash || summary.flashed);
    for (const std::string& message : config.startMessages) {
        EmitLine(message, 0, out);
    }
    const size_t programFrom = out.size();
    for (int line = 1; line <= config.programLines; ++line) {
        EmitLine("program line " + std::to_string(line), line == 1 ? 0 : config.programIntervalMs,
                 out);
    }
    for (size_t i = programFrom; i < out.size(); ++i) {
        out[i].program = true;
    }
}

size_t LoaderProtocol::EmitAck(const std::string& line, int delayMs, std::vector<Emission>& out) {
    EmitLine(line, delayMs, out);
    const size_t endOfFirst = out.size();
    for (int i = 0; i < config.repeatAcks; ++i) {
        EmitLine(line, 0, out);
    }
    return endOfFirst;
}

void LoaderProtocol::EmitLine(const std::string& line, int delayMs, std::vector<Emission>& out) {
    std::string text = config.noiseBeforeLines + line;
    if (config.splitPauseMs <= 0) {
        out.push_back({delayMs, text + "\r\n"});
        return;
    }
    size_t half = text.size() / 2;
    if (half > 0) {
        out.push_back({delayMs, text.substr(0, half)});
        delayMs = config.splitPauseMs;
    }
    out.push_back({delayMs, text.substr(half) + "\r"});
    out.push_back({config.splitPauseMs, "\n"});
}

bool LoaderProtocol::Silent() const {
    return config.silentAfterRecords > 0 && summary.records >= config.silentAfterRecords;
}

void LoaderProtocol::UpdateComplete() {
    summary.downloadComplete = summary.records > 0 && summary.badRecords == 0 &&
                               summary.countMatched && (!config.expectFlash || summary.flashed) &&
                               (!config.expectStart || summary.started);
}

std::string LoaderProtocol::FormatSummary(const BoardSummary& s) {
    std::string text;
    text += "commands: " + std::to_string(s.polls) + " \"?\", " + std::to_string(s.requests) +
            " \"R\", " + std::to_string(s.countQueries) + " \"C\", " + std::to_string(s.flashes) +
            " \"W\", " + std::to_string(s.starts) + " \"S\", " + std::to_string(s.unknownLines) +
            " unknown\n";
    text += "records received: " + std::to_string(s.records) + " (" + std::to_string(s.badRecords) +
            " with errors: " + std::to_string(s.checksumErrors) + " checksum, " +
            std::to_string(s.lengthErrors) + " length, " + std::to_string(s.syntaxErrors) +
            " syntax";
    if (s.strayRecords > 0) {
        text += ", " + std::to_string(s.strayRecords) + " before \"R\" ignored";
    }
    text += ")\n";
    text += "bytes received: " + std::to_string(s.bytesReceived) + "\n";
    text += std::string("count confirmed: ") + (s.countMatched ? "yes" : "no") +
            ", flash written: " + (s.flashed ? "yes" : "no") +
            ", program started: " + (s.started ? "yes" : "no") + "\n";
    if (s.hungUp) {
        text += "the board hung up\n";
    }
    text += std::string("download complete: ") + (s.downloadComplete ? "yes" : "no") + "\n";
    return text;
}

}  // namespace sim
