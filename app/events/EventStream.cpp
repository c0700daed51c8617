#include "app/events/EventStream.h"

#include <cmath>
#include <cstdio>

#include "app/Settings.h"
#include "app/events/EventMessages.h"
#include "errors/FatalError.h"
#include "process/ParentChannel.h"
#include "text/AppendFile.h"
#include "text/Shown.h"

namespace {

const char* ModeName(uint8_t mode) {
    return mode == ModeConsole ? "console" : mode == ModeRaw ? "raw" : "download";
}

template <typename T>
EventStream::Json OrNull(const std::optional<T>& value) {
    return value ? EventStream::Json(*value) : EventStream::Json(nullptr);
}

EventStream::Json OrNull(const char* text) {
    return text != nullptr ? EventStream::Json(text) : EventStream::Json(nullptr);
}

const char* StepName(FixtureStep::Kind kind) {
    switch (kind) {
        case FixtureStep::Kind::StartSignal:
            return "start-signal";
        case FixtureStep::Kind::PowerCommand:
            return "power-command";
        case FixtureStep::Kind::Reset:
            return "reset";
        case FixtureStep::Kind::ResetEnd:
            return "reset-end";
        case FixtureStep::Kind::PowerOffCommand:
            return "power-off-command";
        case FixtureStep::Kind::ResultCommand:
            return "result-command";
    }
    return nullptr;
}

// Texts from the board or the command line need not be UTF-8: a byte that
// is not becomes U+FFFD rather than losing the event.
std::string Dumped(const EventStream::Json& event) {
    return event.dump(-1, ' ', false, EventStream::Json::error_handler_t::replace);
}

}  // namespace

double EventSeconds(double seconds) {
    return std::round(seconds * 1000.0) / 1000.0;
}

const char* PhaseName(SessionPhase phase) {
    switch (phase) {
        case SessionPhase::Identify:
            return "identify";
        case SessionPhase::Request:
            return "request";
        case SessionPhase::Upload:
            return "upload";
        case SessionPhase::Count:
            return "count";
        case SessionPhase::Flash:
            return "flash";
        case SessionPhase::Start:
            return "start";
        case SessionPhase::Console:
            return "console";
    }
    return nullptr;
}

std::optional<SessionPhase> PhaseNamed(const std::string& name) {
    for (SessionPhase phase :
         {SessionPhase::Identify, SessionPhase::Request, SessionPhase::Upload, SessionPhase::Count,
          SessionPhase::Flash, SessionPhase::Start, SessionPhase::Console}) {
        if (name == PhaseName(phase)) {
            return phase;
        }
    }
    return std::nullopt;
}

EventStream::EventStream(Clock::time_point runStart) : start(runStart) {}

EventStream::~EventStream() = default;

void EventStream::ToFile(const char* path) {
    file = std::make_unique<AppendFile>();
    filePath = path;
    if (!file->Open(path)) {
        FatalError(messages::kCannotOpenEventsFormat, path);
    }
}

void EventStream::ToStandardOutput() {
    toStandardOutput = true;
}

void EventStream::ToGang(ParentChannel& parent) {
    channel = &parent;
}

double EventStream::Now() {
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double t = EventSeconds(seconds);
    lastT = t > lastT ? t : lastT;
    return lastT;
}

EventStream::Json EventStream::Begin(const char* name) {
    Json event;
    event["v"] = 1;
    event["event"] = name;
    event["t"] = Now();
    return event;
}

void EventStream::WriteFile(const std::string& line) {
    if (!file->Append(line) && !failed) {
        failed = true;
        FlushShown();
        std::fprintf(stderr, messages::kCannotWriteEventsFormat, filePath.c_str());
    }
}

void EventStream::Emit(const Json& event, const std::string& tail) {
    std::string line = Dumped(event);
    if (!tail.empty()) {
        line.insert(line.size() - 1, tail);
    }
    if (file != nullptr) {
        WriteFile(line + "\n");
    }
    if (toStandardOutput) {
        WriteWholeLine(line + "\n");
    }
    if (channel != nullptr) {
        // The gang has had every byte shown before the event.
        FlushShown();
        line.insert(line.size() - 1, ",\"shown\":" + std::to_string(ShownBytes()));
        channel->Write(line + "\n");
    }
}

void EventStream::PassOn(const Json& told, const std::string& port, double runStarted) {
    Json event;
    event["v"] = 1;
    event["event"] = told.value("event", "");
    const double t = EventSeconds(told.value("t", 0.0) + runStarted);
    lastT = t > lastT ? t : lastT;
    event["t"] = lastT;
    if (!port.empty()) {
        event["port"] = port;
    }
    for (auto item = told.begin(); item != told.end(); ++item) {
        if (item.key() != "v" && item.key() != "event" && item.key() != "t" &&
            item.key() != "port") {
            event[item.key()] = item.value();
        }
    }
    Emit(event);
}

void EventStream::Tell(const Json& told, const std::string& port) {
    PassOn(told, port, told.contains("t") ? 0.0 : Now());
}

void EventStream::OnRunBegin(const RunBegin& begin) {
    Json event = Begin("run-begin");
    event["run_id"] = begin.runId;
    event["station"] = OrNull(begin.station);
    event["mode"] = ModeName(begin.mode);
    event["port"] = begin.port;
    event["baud"] = begin.baud;
    event["file"] = OrNull(begin.file);
    Emit(event);
}

void EventStream::OnBoardBegin(const BoardBegin& begin) {
    Json event = Begin("board-begin");
    event["board_number"] = OrNull(begin.number);
    event["label"] = OrNull(begin.label);
    Emit(event);
}

void EventStream::OnFixtureStep(const FixtureStep& step) {
    Json event = Begin("fixture");
    event["step"] = StepName(step.kind);
    switch (step.kind) {
        case FixtureStep::Kind::StartSignal:
            event["line"] = step.line;
            event["seconds"] = EventSeconds(step.seconds);
            break;
        case FixtureStep::Kind::PowerCommand:
        case FixtureStep::Kind::PowerOffCommand:
        case FixtureStep::Kind::ResultCommand:
            event["command"] = step.command;
            event["ended"] = step.ended;
            event["status"] = OrNull(step.status);
            break;
        case FixtureStep::Kind::Reset:
        case FixtureStep::Kind::ResetEnd:
            event["sequence"] = step.sequence;
            break;
    }
    Emit(event);
}

void EventStream::OnPhase(SessionPhase phase) {
    Json event = Begin("phase");
    event["phase"] = PhaseName(phase);
    Emit(event);
}

void EventStream::OnBoardIdentified(const char* text) {
    Json event = Begin("board");
    event["identity"] = text;
    Emit(event);
}

void EventStream::OnBoardMessage(const char* text) {
    Json event = Begin("message");
    event["text"] = text;
    Emit(event);
}

void EventStream::OnProgress(int32_t lines, int percent, bool last) {
    Json event = Begin("progress");
    event["lines"] = lines;
    event["percent"] = percent;
    event["last"] = last;
    Emit(event);
}

void EventStream::OnCountConfirmed(int32_t count) {
    Json event = Begin("count");
    event["count"] = count;
    Emit(event);
}

void EventStream::OnFlash(bool acknowledged) {
    Json event = Begin("flash");
    event["acknowledged"] = acknowledged;
    Emit(event);
}

void EventStream::OnStartSent() {
    Emit(Begin("start"));
}

void EventStream::OnStamp(const StampNote& note) {
    Json event = Begin("stamp");
    event["value"] = note.isText ? Json(note.text) : Json(note.number);
    event["address"] = note.address;
    event["format"] = note.format;
    event["ledger"] = note.ledger;
    event["text"] = note.text;
    Emit(event);
}

void EventStream::OnBoardEnd(const BoardEnd& end) {
    Json event = Begin("board-end");
    event["board_number"] = OrNull(end.number);
    event["outcome"] = OutcomeName(end.outcome);
    event["exit_status"] = OrNull(end.exitStatus);
    Emit(event, ",\"record\":" + (end.record.empty() ? std::string("null") : end.record));
}

void EventStream::OnRunEnd(const RunEndFacts& end) {
    Json event = Begin("end");
    event["outcome"] = OutcomeName(end.outcome);
    event["exit_status"] = OrNull(end.exitStatus);
    event["signal"] = OrNull(end.signal);
    event["seconds"] = EventSeconds(end.seconds);
    Emit(event);
}
