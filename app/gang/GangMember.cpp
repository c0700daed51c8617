#include "app/gang/GangMember.h"

#include <cstring>
#include <utility>

#include "app/CommandLineMessages.h"
#include "app/ProgramFlowMessages.h"
#include "protocol/ProtocolMessages.h"

namespace {

// The fixed start of a message format, up to its first conversion.
std::string PrefixOf(const char* format) {
    return std::string(format, std::strcspn(format, "%"));
}

// The message without its line end.
std::string LineOf(const char* message) {
    std::string line = message;
    while (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    return line;
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

// Digits at text[at...]; false when there are none.
bool TakeNumber(const std::string& text, size_t& at, long long& value) {
    const size_t start = at;
    value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 12) {
        value = value * 10 + (text[at++] - '0');
    }
    return at > start;
}

bool TakeText(const std::string& text, size_t& at, const char* expected) {
    const size_t length = std::strlen(expected);
    if (text.compare(at, length, expected) != 0) {
        return false;
    }
    at += length;
    return true;
}

const std::string kEstablished = PrefixOf(messages::kEstablishedCommunicationFormat);
const std::string kMismatch = PrefixOf(messages::kCountMismatchFormat);
const std::string kPortError = PrefixOf(messages::kErrorOccurredFormat);
const std::string kCannotOpen = PrefixOf(messages::kCannotOpenUploadFormat);
const std::string kReadFailed = PrefixOf(messages::kFileReadFailedFormat);
const std::string kEcho = messages::kParsedCommandLine;
// The waits bounded by a time-out end with "Error: ... within N s".
const std::string kErrorStart = "Error: ";
const std::string kWithin = " within ";

}  // namespace

const char* GangOutcomeName(GangOutcome outcome) {
    switch (outcome) {
        case GangOutcome::Running:
            return "running";
        case GangOutcome::Complete:
            return "complete";
        case GangOutcome::NoRecords:
            return "no-records";
        case GangOutcome::CountMismatch:
            return "count-mismatch";
        case GangOutcome::FlashNotAcknowledged:
            return "flash-not-acknowledged";
        case GangOutcome::Timeout:
            return "timeout";
        case GangOutcome::PortError:
            return "port-error";
        case GangOutcome::FileError:
            return "file-error";
        case GangOutcome::ImageRefused:
            return "image-refused";
        case GangOutcome::Interrupted:
            return "interrupted";
        case GangOutcome::Failed:
            break;
    }
    return "failed";
}

GangMember::GangMember(std::string portName, std::string dataFileName)
    : port(std::move(portName)), dataFile(std::move(dataFileName)) {}

std::vector<GangItem> GangMember::TakeOutput(const std::string& bytes) {
    return Take(out, bytes);
}

std::vector<GangItem> GangMember::TakeErrorOutput(const std::string& bytes) {
    return Take(err, bytes);
}

std::vector<GangItem> GangMember::Take(Stream& stream, const std::string& bytes) {
    std::vector<GangItem> items;
    for (char c : bytes) {
        if (c == '\r') {
            ++stream.carriageReturns;
        } else if (c == '\n') {
            LineEnded(stream, items);
        } else {
            if (stream.carriageReturns > 0) {
                Overwritten(stream, items);
            }
            stream.text += c;
        }
    }
    // Progress shows at once, not only once the next one overwrites it.
    if (!stream.error) {
        TakeProgress(stream.text, false, items);
    }
    return items;
}

size_t GangMember::TakeProgress(const std::string& text, bool lineEnded,
                                std::vector<GangItem>& items) {
    size_t at = 0;
    long long count = 0;
    long long share = 0;
    if (!TakeNumber(text, at, count) || !TakeText(text, at, " lines uploaded (") ||
        !TakeNumber(text, at, share) || !TakeText(text, at, "%)")) {
        return 0;
    }
    // The last progress line of the upload stands alone on its line.
    const bool lastOfRun = lineEnded && at == text.size();
    const bool changed = !progressShown || count != lines || share != percent;
    lines = static_cast<int32_t>(count);
    percent = static_cast<int>(share);
    progressShown = true;
    if (changed || lastOfRun) {
        GangItem item;
        item.kind = GangItem::Kind::Progress;
        item.lines = lines;
        item.percent = percent;
        item.lastOfRun = lastOfRun;
        items.push_back(item);
    }
    // An upload cut short by an error ends its progress line too, short of
    // 100 %; only a whole one goes on to the count.
    if (lastOfRun && percent == 100) {
        phase = "counting";
    }
    return at;
}

void GangMember::Overwritten(Stream& stream, std::vector<GangItem>& items) {
    const std::string text = std::move(stream.text);
    stream.text.clear();
    stream.carriageReturns = 0;
    const std::string rest = text.substr(stream.error ? 0 : TakeProgress(text, false, items));
    if (!rest.empty()) {
        Recognise(rest, stream.error);
        items.push_back({stream.error ? GangItem::Kind::ErrorLine : GangItem::Kind::Line, rest});
    }
}

void GangMember::LineEnded(Stream& stream, std::vector<GangItem>& items) {
    const std::string line = std::move(stream.text);
    stream.text.clear();
    stream.carriageReturns = 0;
    const size_t progress = stream.error ? 0 : TakeProgress(line, true, items);
    if (progress > 0 && progress == line.size()) {
        return;
    }
    const std::string rest = line.substr(progress);
    if (!stream.error && !echoDropped) {
        echoDropped = true;
        if (StartsWith(rest, kEcho)) {
            return;
        }
    }
    Recognise(rest, stream.error);
    items.push_back({stream.error ? GangItem::Kind::ErrorLine : GangItem::Kind::Line, rest});
}

void GangMember::Sign(GangOutcome shown) {
    if (sign == GangOutcome::Running) {
        sign = shown;
    }
}

void GangMember::Recognise(const std::string& line, bool error) {
    if (error) {
        if (StartsWith(line, kPortError)) {
            Sign(GangOutcome::PortError);
        } else if (StartsWith(line, kCannotOpen) || StartsWith(line, kReadFailed)) {
            Sign(GangOutcome::FileError);
        } else if (!dataFile.empty() && StartsWith(line, dataFile + ":")) {
            Sign(GangOutcome::ImageRefused);
        }
        return;
    }
    if (StartsWith(line, kEstablished) && board.empty()) {
        board = line.substr(kEstablished.size());
        phase = "connected";
    } else if (line == LineOf(messages::kStartUploading)) {
        phase = "uploading";
    } else if (line == LineOf(messages::kFileUploadedOk)) {
        uploadedOk = true;
        phase = "uploaded";
    } else if (line == LineOf(messages::kProgrammingFlash)) {
        phase = "programming flash";
    } else if (line == LineOf(messages::kStartCommandSent)) {
        phase = "started";
    } else if (line == LineOf(messages::kNoValidLines)) {
        Sign(GangOutcome::NoRecords);
    } else if (StartsWith(line, kMismatch)) {
        Sign(GangOutcome::CountMismatch);
    } else if (line == LineOf(messages::kFlashNotAcknowledged)) {
        Sign(GangOutcome::FlashNotAcknowledged);
    } else if (StartsWith(line, kErrorStart) && line.find(kWithin) != std::string::npos) {
        Sign(GangOutcome::Timeout);
    }
}

std::vector<GangItem> GangMember::End(int exitStatus, bool interrupted, bool interruptSent) {
    std::vector<GangItem> items;
    for (Stream* stream : {&out, &err}) {
        if (!stream->text.empty()) {
            LineEnded(*stream, items);
        }
    }
    if (exitStatus == 0 && uploadedOk && sign == GangOutcome::Running) {
        outcome = GangOutcome::Complete;
    } else if (sign != GangOutcome::Running) {
        outcome = sign;
    } else if (interrupted || interruptSent) {
        outcome = GangOutcome::Interrupted;
    } else {
        outcome = GangOutcome::Failed;
    }
    return items;
}

void GangMember::GangInterrupted() {
    if (outcome == GangOutcome::Failed) {
        outcome = GangOutcome::Interrupted;
    }
}

std::string GangMember::Phase() const {
    if (outcome != GangOutcome::Running) {
        return GangOutcomeName(outcome);
    }
    if (phase == "uploading" && progressShown) {
        return phase + ": " + std::to_string(lines) + " lines (" + std::to_string(percent) + "%)";
    }
    return phase;
}
