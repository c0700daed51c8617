#include "app/gang/GangEvents.h"

#include "app/events/EventStream.h"

namespace {

using Json = nlohmann::ordered_json;

struct KindName {
    GangEvent::Kind kind;
    const char* name;
};

const KindName kKindNames[] = {
    {GangEvent::Kind::Phase, "phase"},       {GangEvent::Kind::Board, "board"},
    {GangEvent::Kind::Progress, "progress"}, {GangEvent::Kind::Count, "count"},
    {GangEvent::Kind::Flash, "flash"},       {GangEvent::Kind::Start, "start"},
    {GangEvent::Kind::Stamp, "stamp"},       {GangEvent::Kind::BoardEnd, "board-end"},
    {GangEvent::Kind::End, "end"},
};

GangEvent::Kind KindNamed(const std::string& name) {
    for (const KindName& known : kKindNames) {
        if (name == known.name) {
            return known.kind;
        }
    }
    return GangEvent::Kind::Other;
}

const char* NameOf(GangEvent::Kind kind) {
    for (const KindName& known : kKindNames) {
        if (kind == known.kind) {
            return known.name;
        }
    }
    return "other";
}

bool TakeOutcome(const Json& record, GangEvent& event) {
    const std::optional<RunOutcome> outcome = OutcomeNamed(record.at("outcome").get<std::string>());
    event.outcome = outcome.value_or(RunOutcome::Failed);
    return outcome.has_value();
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
        case GangEvent::Kind::Stamp:
            event.value = record.at("text").get<std::string>();
            return true;
        case GangEvent::Kind::BoardEnd:
            if (record.contains("record") && record["record"].is_object() &&
                record["record"].value("error", Json()).is_string()) {
                event.message = record["record"]["error"].get<std::string>();
            }
            return TakeOutcome(record, event);
        case GangEvent::Kind::End:
            return TakeOutcome(record, event);
        case GangEvent::Kind::Start:
        case GangEvent::Kind::Other:
            return true;
    }
    return false;
}

}  // namespace

std::optional<GangEvent> ParseGangEvent(const std::string& line) {
    Json record = Json::parse(line, nullptr, false);
    if (!record.is_object()) {
        return std::nullopt;
    }
    try {
        GangEvent event;
        event.kind = KindNamed(record.at("event").get<std::string>());
        event.shown = record.at("shown").get<uint64_t>();
        if (!TakeFields(record, event)) {
            return std::nullopt;
        }
        record.erase("shown");
        event.told = std::move(record);
        return event;
    } catch (const Json::exception&) {
    }
    return std::nullopt;
}

std::string GangEventLine(const GangEvent& event) {
    Json record;
    record["v"] = 1;
    record["event"] = NameOf(event.kind);
    record["t"] = 0;
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
        case GangEvent::Kind::Stamp:
            record["text"] = event.value;
            break;
        case GangEvent::Kind::BoardEnd:
        case GangEvent::Kind::End:
            record["outcome"] = OutcomeName(event.outcome);
            break;
        case GangEvent::Kind::Start:
        case GangEvent::Kind::Other:
            break;
    }
    record["shown"] = event.shown;
    return record.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}
