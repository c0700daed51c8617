#include "app/operator/BoardLabels.h"

#include <cstdio>
#include <utility>

#include "app/operator/OperatorMessages.h"
#include "errors/FormatText.h"
#include "errors/Interrupted.h"
#include "serial/Interrupt.h"
#include "serial/StandardInput.h"
#include "text/Shown.h"

namespace {

// How long one look at standard input waits: the longest a request to end
// the run may go unseen when its signal came just before the look.
constexpr uint32_t kInputLookMs = 100;
// How long one read of the scanner's port waits for a byte.
constexpr uint32_t kScannerReadMs = 100;

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

BoardLabels::BoardLabels(const Settings& runSettings)
    : settings(runSettings), echoed(runSettings.labelFrom == nullptr && StandardInputIsTerminal()) {
    if (settings.labelPattern != nullptr) {
        pattern.emplace(settings.labelPattern, std::regex::ECMAScript);
    }
}

BoardLabels::~BoardLabels() = default;

LabelAnswer BoardLabels::ForBoard(std::optional<uint32_t> number) {
    if (settings.label != nullptr) {
        return {std::string(settings.label), 0};
    }
    if (askedFor && *askedFor == number) {
        return asked;
    }
    asked = Ask(
        number ? FormatText(messages::kLabelQuestionNumberFormat, static_cast<unsigned>(*number))
               : std::string(messages::kLabelQuestion));
    askedFor = number;
    return asked;
}

LabelAnswer BoardLabels::ForPort(const std::string& port) {
    return Ask(FormatText(messages::kLabelQuestionPortFormat, port.c_str()));
}

LabelAnswer BoardLabels::Ask(const std::string& question) {
    // The scanner's port is set up before anything is asked of the
    // operator, so that a label scanned at once is read as it was sent.
    OpenScanner();
    for (;;) {
        Say(question);
        std::string line;
        const LineEnd end = ReadLine(line);
        if (end != LineEnd::Line) {
            Say("\n");
            return {std::nullopt, end == LineEnd::Interrupted ? InterruptRequest() : 0};
        }
        if (!echoed) {
            Say(line + "\n");
        }
        const std::string label = Trimmed(line);
        if (label.empty()) {
            continue;
        }
        if (pattern && !std::regex_match(label, *pattern)) {
            FlushShown();
            std::fprintf(stderr, messages::kLabelRefusedFormat, label.c_str(),
                         settings.labelPattern);
            std::fflush(stderr);
            continue;
        }
        return {label, 0};
    }
}

BoardLabels::LineEnd BoardLabels::ReadLine(std::string& line) {
    while (!TakeLine(line)) {
        if (InterruptRequest() != 0) {
            return LineEnd::Interrupted;
        }
        if (ended) {
            if (pending.empty()) {
                return LineEnd::Ended;
            }
            line = std::move(pending);
            pending.clear();
            return LineEnd::Line;
        }
        try {
            ended = !ReadMore();
        } catch (const InterruptedError&) {
            return LineEnd::Interrupted;
        }
    }
    return LineEnd::Line;
}

bool BoardLabels::TakeLine(std::string& line) {
    if (afterCr && !pending.empty()) {
        afterCr = false;
        if (pending[0] == '\n') {
            pending.erase(0, 1);
        }
    }
    const size_t end = pending.find_first_of("\r\n");
    if (end == std::string::npos) {
        return false;
    }
    line = pending.substr(0, end);
    afterCr = pending[end] == '\r';
    pending.erase(0, end + 1);
    return true;
}

bool BoardLabels::ReadMore() {
    if (settings.labelFrom == nullptr) {
        return ReadStandardInput(pending, kInputLookMs) != InputRead::Ended;
    }
    char byte = 0;
    if (scanner->Read(&byte, 1) == 1) {
        pending += byte;
    }
    return true;
}

void BoardLabels::OpenScanner() {
    if (settings.labelFrom != nullptr && scanner == nullptr) {
        scanner = std::make_unique<COMPort>(settings.labelFrom);
        scanner->Configure(settings.labelBaud, kScannerReadMs);
    }
}

void BoardLabels::Say(const std::string& text) const {
    FlushShown();
    if (settings.eventsToOutput) {
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
    } else {
        Show(text.c_str());
        FlushShown();
    }
}
