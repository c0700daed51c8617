#include "app/stamp/FileLedger.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/stamp/StampMessages.h"
#include "errors/FatalError.h"

namespace {

using Json = nlohmann::ordered_json;

const char* const kStates[] = {"reserved", "used", "failed", "interrupted"};

Json ValueJson(const StampFormat& format, const StampValue& value) {
    return format.IsBytes() ? Json(StampValueText(format, value)) : Json(value.Number());
}

template <typename T>
Json OrNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

// The value of a parsed line, or why it is refused.
bool LineValue(const Json& line, const StampFormat& format, StampValue& value, std::string& why) {
    if (!line.is_object()) {
        why = "not a JSON object";
        return false;
    }
    const auto state = line.find("state");
    bool known = false;
    for (const char* name : kStates) {
        known = known || (state != line.end() && state->is_string() && *state == name);
    }
    if (!known) {
        why = "\"state\" is not one of \"reserved\", \"used\", \"failed\", \"interrupted\"";
        return false;
    }
    const auto found = line.find("value");
    if (found == line.end()) {
        why = "no \"value\"";
        return false;
    }
    if (format.IsBytes()) {
        if (!found->is_string()) {
            why = "\"value\" is not a string of bytes, as " + format.Name() + " has them";
            return false;
        }
        const std::string text = found->get<std::string>();
        if (!ParseStampValue(format, text.c_str(), value, why)) {
            why = "\"value\" " + text + ": " + why;
            return false;
        }
        return true;
    }
    if (!found->is_number_unsigned()) {
        why = "\"value\" is not a whole number, as " + format.Name() + " has them";
        return false;
    }
    if (!StampValueOf(format, found->get<uint64_t>(), value)) {
        why = "\"value\" " + found->dump() + " does not fit " + format.Name();
        return false;
    }
    return true;
}

}  // namespace

std::string LedgerLine(const StampFormat& format, const StampValue& value, const char* state,
                       const StampTaker& taker, const std::string* outcome) {
    Json line;
    line["value"] = ValueJson(format, value);
    line["state"] = state;
    line["time"] = LedgerTimeNow();
    line["port"] = taker.port;
    line["board_number"] = OrNull(taker.boardNumber);
    line["run_id"] = OrNull(taker.runId);
    line["station"] = OrNull(taker.station);
    if (outcome != nullptr) {
        line["outcome"] = *outcome;
    }
    return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

FileLedger::FileLedger(const StampPlan& stampPlan) : plan(stampPlan) {
    if (!log.Open(plan.ledger.c_str())) {
        Failed();
    }
}

void FileLedger::Failed() {
    FatalError(messages::kLedgerCannotFormat, plan.ledger.c_str(), log.Error().c_str());
}

size_t FileLedger::ReadLedger(const std::string& content, const StampPlan& plan,
                              LedgerValues& values, bool& unfinished) {
    unfinished = false;
    size_t at = 0;
    for (long long number = 1; at < content.size(); ++number) {
        const size_t end = content.find('\n', at);
        if (end == std::string::npos) {
            unfinished = true;
            return at;
        }
        std::string why;
        StampValue value;
        const Json line =
            Json::parse(content.begin() + static_cast<std::ptrdiff_t>(at),
                        content.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
        if (line.is_discarded()) {
            why = "not JSON";
        }
        if (!why.empty() || !LineValue(line, plan.spec.format, value, why)) {
            FatalError(messages::kLedgerLineFormat, plan.ledger.c_str(), number, why.c_str());
        }
        values.Take(value);
        at = end + 1;
    }
    return at;
}

LedgerValues FileLedger::Load(bool cut) {
    if (!log.Lock()) {
        Failed();
    }
    std::string content;
    if (!log.ReadAll(content)) {
        Failed();
    }
    LedgerValues values;
    bool unfinished = false;
    const size_t finished = ReadLedger(content, plan, values, unfinished);
    if (unfinished && !unfinishedShown) {
        unfinishedShown = true;
        const long long lineNumber =
            1 + static_cast<long long>(std::count(content.begin(), content.end(), '\n'));
        std::fflush(stdout);
        std::fprintf(stderr, messages::kLedgerUnfinishedLineFormat, plan.ledger.c_str(),
                     lineNumber);
    }
    if (unfinished && cut && !log.CutTo(static_cast<int64_t>(finished))) {
        Failed();
    }
    return values;
}

void FileLedger::Check() {
    const LedgerValues values = Load(false);
    log.Unlock();
    StampValue next;
    std::string why;
    if (!NextStampValue(plan, values, next, why)) {
        FatalError("%s", why.c_str());
    }
}

StampValue FileLedger::Reserve(const StampTaker& taker) {
    const LedgerValues values = Load(true);
    StampValue next;
    std::string why;
    if (!NextStampValue(plan, values, next, why)) {
        FatalError("%s", why.c_str());
    }
    if (!log.Append(LedgerLine(plan.spec.format, next, "reserved", taker, nullptr))) {
        Failed();
    }
    log.Unlock();
    return next;
}

void FileLedger::Close(const StampValue& value, const StampTaker& taker, const char* state,
                       const std::string& outcome) {
    Load(true);
    if (!log.Append(LedgerLine(plan.spec.format, value, state, taker, &outcome))) {
        Failed();
    }
    log.Unlock();
}
