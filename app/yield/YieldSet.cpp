#include "app/yield/YieldSet.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/yield/YieldTime.h"

namespace {

using Json = nlohmann::json;

// The text of key, or the empty text when it is absent or no text.
std::string TextOf(const Json& record, const char* key) {
    const auto found = record.find(key);
    return found != record.end() && found->is_string() ? found->get<std::string>() : std::string();
}

bool IsTextAt(const Json& record, const char* key) {
    const auto found = record.find(key);
    return found != record.end() && found->is_string();
}

int HexValue(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// A UUID's 128 bits.
void SplitId(const std::string& id, RunFact& fact) {
    uint64_t words[2] = {0, 0};
    size_t digits = 0;
    for (char c : id) {
        if (c != '-' && digits < 32) {
            uint64_t& word = words[digits / 16];
            word = word << 4 | static_cast<uint64_t>(HexValue(c));
            ++digits;
        }
    }
    fact.idHigh = words[0];
    fact.idLow = words[1];
}

RunKind KindOf(const Json& record, const std::string& outcome, bool labelled) {
    if (IsUntouchedOutcome(outcome)) {
        return RunKind::Untouched;
    }
    if (outcome == "interrupted") {
        return RunKind::Aborted;
    }
    const auto board = record.find("board");
    const bool noBoard = board == record.end() || board->is_null();
    return noBoard && !labelled ? RunKind::NoBoard : RunKind::Counted;
}

}  // namespace

bool IsUntouchedOutcome(const std::string& outcome) {
    return outcome == "image-ok" || outcome == "image-refused" || outcome == "image-changed" ||
           outcome == "file-error" || outcome == "no-label";
}

uint32_t NameIndex::Of(const std::string& name) {
    const auto found = indexes.find(name);
    if (found != indexes.end()) {
        return found->second;
    }
    const auto index = static_cast<uint32_t>(names.size());
    names.push_back(name);
    indexes.emplace(name, index);
    return index;
}

YieldSet::YieldSet(YieldFilters setFilters) : filters(std::move(setFilters)) {}

std::set<std::string> YieldSet::Keys() {
    return {"mode", "outcome", "started", "seconds", "station",
            "port", "board",   "label",   "file",    "file_sha256"};
}

std::string YieldSet::Add(const Json& record, const std::string& id) {
    if (!IsTextAt(record, "mode")) {
        return "no mode";
    }
    if (!IsTextAt(record, "outcome")) {
        return "no outcome";
    }
    const std::optional<int64_t> started = RecordTime(TextOf(record, "started"));
    if (!started) {
        return "no started time";
    }
    const auto seconds = record.find("seconds");
    if (seconds == record.end() || !seconds->is_number()) {
        return "no seconds";
    }
    const std::string station = TextOf(record, "station");
    if (TextOf(record, "mode") != "download" || !Keeps(station, *started)) {
        return std::string();
    }
    const std::string label = TextOf(record, "label");
    const std::string outcome = TextOf(record, "outcome");
    RunFact fact;
    SplitId(id, fact);
    fact.started = *started;
    fact.seconds = std::llround(std::max(0.0, seconds->get<double>()) * 1000.0);
    fact.sequence = static_cast<uint32_t>(facts.size());
    fact.kind = KindOf(record, outcome, !label.empty());
    fact.unit = fact.kind == RunKind::Counted && !label.empty() ? labels.Of(label) : kNoIndex;
    fact.station = stations.Of(station);
    fact.port = PortOf(fact.station, TextOf(record, "port"));
    // A record that never touched a board names no image of the set.
    fact.image = fact.kind != RunKind::Untouched ? ImageOf(record, *started) : kNoIndex;
    fact.outcome = static_cast<uint16_t>(outcomes.Of(outcome));
    fact.passed = fact.kind == RunKind::Counted && outcome == "complete";
    facts.push_back(fact);
    return std::string();
}

bool YieldSet::Keeps(const std::string& station, int64_t started) const {
    return (!filters.since || started >= *filters.since) &&
           (!filters.until || started < *filters.until) &&
           (filters.stations.empty() || filters.stations.count(station) != 0);
}

uint32_t YieldSet::PortOf(uint32_t station, const std::string& name) {
    if (portIndexes.size() <= station) {
        portIndexes.resize(station + 1);
    }
    const auto found = portIndexes[station].find(name);
    if (found != portIndexes[station].end()) {
        return found->second;
    }
    const auto index = static_cast<uint32_t>(ports.size());
    ports.push_back({station, name});
    portIndexes[station].emplace(name, index);
    return index;
}

uint32_t YieldSet::ImageOf(const Json& record, int64_t started) {
    const std::string sha256 = TextOf(record, "file_sha256");
    if (sha256.empty()) {
        return kNoIndex;
    }
    auto found = imageIndexes.find(sha256);
    if (found == imageIndexes.end()) {
        found = imageIndexes.emplace(sha256, static_cast<uint32_t>(images.size())).first;
        images.push_back({sha256, std::string(), INT64_MIN});
    }
    Image& image = images[found->second];
    if (started >= image.fileStarted) {
        image.file = TextOf(record, "file");
        image.fileStarted = started;
    }
    return found->second;
}

void YieldSet::Finish() {
    std::sort(facts.begin(), facts.end(), [](const RunFact& a, const RunFact& b) {
        return a.idHigh != b.idHigh ? a.idHigh < b.idHigh
               : a.idLow != b.idLow ? a.idLow < b.idLow
                                    : a.sequence < b.sequence;
    });
    const auto last =
        std::unique(facts.begin(), facts.end(), [](const RunFact& a, const RunFact& b) {
            return a.idHigh == b.idHigh && a.idLow == b.idLow;
        });
    duplicates = static_cast<uint64_t>(facts.end() - last);
    facts.erase(last, facts.end());
    facts.shrink_to_fit();
    std::sort(facts.begin(), facts.end(), [](const RunFact& a, const RunFact& b) {
        return a.started != b.started ? a.started < b.started : a.sequence < b.sequence;
    });
}
