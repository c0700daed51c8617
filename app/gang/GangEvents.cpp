#include "app/gang/GangEvents.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "process/ParentChannel.h"
#include "text/Shown.h"

namespace {

using Json = nlohmann::ordered_json;

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
    for (SessionPhase phase : {SessionPhase::Identify, SessionPhase::Request, SessionPhase::Upload,
                               SessionPhase::Count, SessionPhase::Flash, SessionPhase::Start,
                               SessionPhase::Console}) {
        if (name == PhaseName(phase)) {
            return phase;
        }
    }
    return std::nullopt;
}

const char* KindName(GangEvent::Kind kind) {
    switch (kind) {
        case GangEvent::Kind::Phase:
            return "phase";
        case GangEvent::Kind::Board:
            return "board";
        case GangEvent::Kind::Progress:
            return "progress";
        case GangEvent::Kind::Count:
            return "count";
        case GangEvent::Kind::Flash:
            return "flash";
        case GangEvent::Kind::Start:
            return "start";
        case GangEvent::Kind::Stamp:
            return "stamp";
        case GangEvent::Kind::BoardEnd:
            return "board-end";
        case GangEvent::Kind::End:
            return "end";
    }
    return nullptr;
}

// Fills event from record's fields for its kind; false when one is missing
// or of another type (json's own exceptions say so).
bool TakeFields(const Json& record, GangEvent& event) {
    switch (event.kind) {
        case GangEvent::Kind::Phase: {
            const std::optional<SessionPhase> phase =
                PhaseNamed(record.at("phase").get<std::string>());
            event.phase = phase.value_or(SessionPhase::Identify);
            return phase.has_value();
        }
        case GangEvent::Kind::Board:
            event.identity = record.at("identity").get<std::string>();
            return true;
        case GangEvent::Kind::Progress:
            event.lines = record.at("lines").get<int32_t>();
            event.percent = record.at("percent").get<int>();
            event.last = record.at("last").get<bool>();
            return true;
        case GangEvent::Kind::Count:
            event.count = record.at("count").get<int32_t>();
            return true;
        case GangEvent::Kind::Flash:
            event.acknowledged = record.at("acknowledged").get<bool>();
            return true;
        case GangEvent::Kind::Start:
            return true;
        case GangEvent::Kind::Stamp:
            event.value = record.at("value").get<std::string>();
            return true;
        case GangEvent::Kind::BoardEnd:
        case GangEvent::Kind::End: {
            const std::optional<RunOutcome> outcome =
                OutcomeNamed(record.at("outcome").get<std::string>());
            event.outcome = outcome.value_or(RunOutcome::Failed);
            return outcome.has_value();
        }
    }
    return false;
}

}  // namespace

std::string GangEventLine(const GangEvent& event) {
    Json record;
    record["event"] = KindName(event.kind);
    record["shown"] = event.shown;
    switch (event.kind) {
        case GangEvent::Kind::Phase:
            record["phase"] = PhaseName(event.phase);
            break;
        case GangEvent::Kind::Board:
            record["identity"] = event.identity;
            break;
        case GangEvent::Kind::Progress:
            record["lines"] = event.lines;
            record["percent"] = event.percent;
            record["last"] = event.last;
            break;
        case GangEvent::Kind::Count:
            record["count"] = event.count;
            break;
        case GangEvent::Kind::Flash:
            record["acknowledged"] = event.acknowledged;
            break;
        case GangEvent::Kind::Start:
            break;
        case GangEvent::Kind::Stamp:
            record["value"] = event.value;
            break;
        case GangEvent::Kind::BoardEnd:
        case GangEvent::Kind::End:
            record["outcome"] = OutcomeName(event.outcome);
            break;
    }
    // A board's identity need not be UTF-8: a byte that is not becomes
    // U+FFFD rather than losing the event.
    return record.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<GangEvent> ParseGangEvent(const std::string& line) {
    const Json record = Json::parse(line, nullptr, false);
    if (!record.is_object()) {
        return std::nullopt;
    }
    try {
        GangEvent event;
        const std::string kind = record.at("event").get<std::string>();
        for (GangEvent::Kind candidate :
             {GangEvent::Kind::Phase, GangEvent::Kind::Board, GangEvent::Kind::Progress,
              GangEvent::Kind::Count, GangEvent::Kind::Flash, GangEvent::Kind::Start,
              GangEvent::Kind::Stamp, GangEvent::Kind::BoardEnd, GangEvent::Kind::End}) {
            if (kind == KindName(candidate)) {
                event.kind = candidate;
                event.shown = record.at("shown").get<uint64_t>();
                return TakeFields(record, event) ? std::optional<GangEvent>(event) : std::nullopt;
            }
        }
    } catch (const Json::exception&) {
    }
    return std::nullopt;
}

GangEventWriter::GangEventWriter(ParentChannel& parent) : channel(parent) {}

void GangEventWriter::Send(GangEvent event) {
    std::fflush(stdout);
    event.shown = ShownBytes();
    channel.Write(GangEventLine(event));
}

void GangEventWriter::OnPhase(SessionPhase phase) {
    GangEvent event;
    event.kind = GangEvent::Kind::Phase;
    event.phase = phase;
    Send(event);
}

void GangEventWriter::OnBoardIdentified(const char* text) {
    GangEvent event;
    event.kind = GangEvent::Kind::Board;
    event.identity = text;
    Send(event);
}

void GangEventWriter::OnProgress(int32_t lines, int percent, bool last) {
    GangEvent event;
    event.kind = GangEvent::Kind::Progress;
    event.lines = lines;
    event.percent = percent;
    event.last = last;
    Send(event);
}

void GangEventWriter::OnCountConfirmed(int32_t count) {
    GangEvent event;
    event.kind = GangEvent::Kind::Count;
    event.count = count;
    Send(event);
}

void GangEventWriter::OnFlash(bool acknowledged) {
    GangEvent event;
    event.kind = GangEvent::Kind::Flash;
    event.acknowledged = acknowledged;
    Send(event);
}

void GangEventWriter::OnStartSent() {
    GangEvent event;
    event.kind = GangEvent::Kind::Start;
    Send(event);
}

void GangEventWriter::Stamp(const std::string& value) {
    GangEvent event;
    event.kind = GangEvent::Kind::Stamp;
    event.value = value;
    Send(event);
}

void GangEventWriter::SendOutcome(GangEvent::Kind kind, RunOutcome outcome) {
    GangEvent event;
    event.kind = kind;
    event.outcome = outcome;
    Send(event);
}

void GangEventWriter::BoardEnded(RunOutcome outcome) {
    SendOutcome(GangEvent::Kind::BoardEnd, outcome);
}

void GangEventWriter::End(RunOutcome outcome) {
    SendOutcome(GangEvent::Kind::End, outcome);
}
