#include "app/gang/GangMember.h"

#include <cstdint>
#include <utility>

namespace {

const char* StateWords(GangMember::State state) {
    switch (state) {
        case GangMember::State::WaitingForBoard:
            return "waiting for the board";
        case GangMember::State::Connected:
            return "connected";
        case GangMember::State::Uploading:
            return "uploading";
        case GangMember::State::Counting:
            return "counting";
        case GangMember::State::ProgrammingFlash:
            return "programming flash";
        case GangMember::State::Uploaded:
            return "uploaded";
        case GangMember::State::Started:
            return "started";
    }
    return "";
}

}  // namespace

GangMember::GangMember(std::string portName, int childIndex, EventSink eventSink)
    : port(std::move(portName)), child(childIndex), sink(std::move(eventSink)) {}

std::vector<GangItem> GangMember::TakeOutput(const std::string& bytes) {
    std::vector<GangItem> items;
    for (char c : bytes) {
        ApplyDue(items);
        Take(out, c, items);
        ++outTaken;
    }
    ApplyDue(items);
    return items;
}

std::vector<GangItem> GangMember::TakeErrorOutput(const std::string& bytes) {
    std::vector<GangItem> items;
    for (char c : bytes) {
        Take(err, c, items);
    }
    return items;
}

// A line that is no event (there is none unless the run is not what the gang
// started) is dropped.
std::vector<GangItem> GangMember::TakeEvents(const std::string& bytes) {
    for (char c : bytes) {
        if (c != '\n') {
            eventText += c;
            continue;
        }
        if (std::optional<GangEvent> event = ParseGangEvent(eventText)) {
            begun = true;
            if (sink) {
                sink(*event);
            }
            pending.push_back(std::move(*event));
        }
        eventText.clear();
    }
    std::vector<GangItem> items;
    ApplyDue(items);
    return items;
}

void GangMember::Take(Stream& stream, char c, std::vector<GangItem>& items) {
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

void GangMember::Overwritten(Stream& stream, std::vector<GangItem>& items) {
    stream.carriageReturns = 0;
    if (!stream.text.empty()) {
        LineEnded(stream, items);
    }
}

void GangMember::LineEnded(Stream& stream, std::vector<GangItem>& items) {
    std::string line = std::move(stream.text);
    stream.text.clear();
    stream.carriageReturns = 0;
    items.push_back(
        {stream.error ? GangItem::Kind::ErrorLine : GangItem::Kind::Line, std::move(line)});
}

void GangMember::ApplyDue(std::vector<GangItem>& items) {
    while (!pending.empty() && pending.front().shown <= outTaken) {
        const GangEvent event = std::move(pending.front());
        pending.pop_front();
        Apply(event, items);
    }
}

void GangMember::Apply(const GangEvent& event, std::vector<GangItem>& items) {
    switch (event.kind) {
        case GangEvent::Kind::Phase:
            if (event.phase == SessionPhase::Upload) {
                state = State::Uploading;
            } else if (event.phase == SessionPhase::Count) {
                state = State::Counting;
            } else if (event.phase == SessionPhase::Flash) {
                state = State::ProgrammingFlash;
            }
            break;
        case GangEvent::Kind::Board:
            if (board.empty()) {
                board = event.identity;
            }
            state = State::Connected;
            break;
        case GangEvent::Kind::Stamp:
            stamp = event.value;
            break;
        case GangEvent::Kind::Progress: {
            const bool changed = !progressShown || event.lines != lines || event.percent != percent;
            lines = event.lines;
            percent = event.percent;
            progressShown = true;
            progressOpen = !event.last;
            if (changed || event.last) {
                GangItem item;
                item.kind = GangItem::Kind::Progress;
                item.lines = lines;
                item.percent = percent;
                item.lastOfRun = event.last;
                items.push_back(item);
            }
            break;
        }
        case GangEvent::Kind::Count:
            if (event.count == lines) {
                state = State::Uploaded;
            }
            break;
        case GangEvent::Kind::Start:
            state = State::Started;
            break;
        case GangEvent::Kind::BoardEnd:
            message = event.message;
            // A board of board after board: a single run's end is its end.
            if (!event.told.contains("board_number") || !event.told["board_number"].is_null()) {
                ++(event.outcome == RunOutcome::Complete ? boardsComplete : boardsFailed);
                state = State::WaitingForBoard;
            }
            break;
        case GangEvent::Kind::End:
            told = event.outcome;
            break;
        case GangEvent::Kind::Flash:
        case GangEvent::Kind::Other:
            break;
    }
}

std::vector<GangItem> GangMember::End(int exitStatus, bool interrupted, bool interruptSent,
                                      double endSeconds) {
    seconds = endSeconds;
    endedBySignal = exitStatus < 0 || interrupted;
    std::vector<GangItem> items;
    for (Stream* stream : {&out, &err}) {
        if (!stream->text.empty()) {
            LineEnded(*stream, items);
        }
    }
    // The run has ended: whatever it told comes after all it showed.
    outTaken = UINT64_MAX;
    ApplyDue(items);
    // An upload cut short without a word still ends its progress.
    if (progressOpen) {
        GangEvent last;
        last.kind = GangEvent::Kind::Progress;
        last.lines = lines;
        last.percent = percent;
        last.last = true;
        Apply(last, items);
    }
    outcome = OutcomeOfPort(told, exitStatus, interrupted || interruptSent);
    return items;
}

void GangMember::GangInterrupted() {
    if (outcome == RunOutcome::Failed) {
        outcome = RunOutcome::Interrupted;
    }
}

std::string GangMember::Phase() const {
    if (outcome) {
        return OutcomeName(*outcome);
    }
    const std::string figure = Figure();
    return figure.empty() ? StateWords(state) : std::string(StateWords(state)) + ": " + figure;
}

std::string GangMember::Figure() const {
    if (outcome || state != State::Uploading || !progressShown) {
        return std::string();
    }
    return std::to_string(lines) + " lines (" + std::to_string(percent) + "%)";
}
