#include "app/stamp/LedgerListing.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/stamp/PostgresLedger.h"
#include "app/stamp/StampLedger.h"
#include "app/stamp/StampMessages.h"
#include "errors/FatalError.h"
#include "text/LockedLog.h"
#include "text/Shown.h"

namespace {

using Json = nlohmann::json;

const char* const kStates[] = {"reserved", "used", "failed", "interrupted"};

std::optional<std::string> TextOf(const Json& line, const char* key) {
    const auto found = line.find(key);
    return found != line.end() && found->is_string() ? std::optional<std::string>(*found)
                                                     : std::nullopt;
}

// The entry a line of a ledger file makes; false with why when it is no
// ledger line.
bool EntryOf(const std::string& text, LedgerEntry& entry, std::string& why) {
    const Json line = Json::parse(text, nullptr, false);
    if (line.is_discarded() || !line.is_object()) {
        why = line.is_discarded() ? "not JSON" : "not a JSON object";
        return false;
    }
    const auto state = line.find("state");
    if (state == line.end() || !state->is_string() ||
        std::find(std::begin(kStates), std::end(kStates), state->get<std::string>()) ==
            std::end(kStates)) {
        why = "\"state\" is not one of \"reserved\", \"used\", \"failed\", \"interrupted\"";
        return false;
    }
    const auto value = line.find("value");
    if (value == line.end() || !(value->is_string() || value->is_number_unsigned())) {
        why = "no \"value\" that is a whole number or a string of bytes";
        return false;
    }
    entry = {value->is_string() ? value->get<std::string>() : value->dump(),
             *state,
             TextOf(line, "time").value_or(""),
             TextOf(line, "port"),
             TextOf(line, "run_id"),
             TextOf(line, "station")};
    return true;
}

// The whole file, read under its lock; nothing is made.
std::string ReadLedgerFile(const std::string& path) {
    LockedLog log;
    std::string content;
    if (!log.OpenForReading(path.c_str()) || !log.Lock() || !log.ReadAll(content)) {
        FatalError(messages::kLedgerCannotFormat, path.c_str(), log.Error().c_str());
    }
    return content;
}

// Every number of the file with its last line, in the order of their first
// lines. A last line without its line end is said and left out, as a run
// leaves it out.
LedgerSummary ListFileLedger(const std::string& path) {
    const std::string content = ReadLedgerFile(path);
    std::vector<LedgerEntry> entries;
    std::map<std::string, size_t> indexOf;
    long long number = 1;
    for (size_t at = 0, end = 0; at < content.size(); at = end + 1, ++number) {
        end = content.find('\n', at);
        if (end == std::string::npos) {
            FlushShown();
            std::fprintf(stderr, messages::kLedgerUnfinishedLineFormat, path.c_str(), number);
            break;
        }
        LedgerEntry entry;
        std::string why;
        if (!EntryOf(content.substr(at, end - at), entry, why)) {
            FatalError(messages::kLedgerLineFormat, path.c_str(), number, why.c_str());
        }
        const auto [found, fresh] = indexOf.emplace(entry.value, entries.size());
        if (fresh) {
            entries.push_back(entry);
        } else {
            entries[found->second] = entry;
        }
    }
    LedgerSummary summary;
    for (const LedgerEntry& entry : entries) {
        ++(entry.state == "reserved" ? summary.reserved
           : entry.state == "used"   ? summary.used
           : entry.state == "failed" ? summary.failed
                                     : summary.interrupted);
        if (entry.state != "used") {
            summary.notUsed.push_back(entry);
        }
    }
    return summary;
}

std::string JsonText(const std::optional<std::string>& text) {
    return text ? Json(*text).dump(-1, ' ', false, Json::error_handler_t::replace) : "null";
}

}  // namespace

void PrintLedgerList(const char* ledger) {
    const LedgerSummary summary =
        IsDatabaseLedger(ledger) ? ListPostgresLedger(ledger) : ListFileLedger(ledger);
    for (const LedgerEntry& entry : summary.notUsed) {
        ShowFormatted(messages::kLedgerListLineFormat, entry.value.c_str(), entry.state.c_str(),
                      entry.time.c_str(), JsonText(entry.port).c_str(),
                      JsonText(entry.runId).c_str(), JsonText(entry.station).c_str());
    }
    ShowFormatted(messages::kLedgerListCountsFormat, summary.reserved, summary.used, summary.failed,
                  summary.interrupted);
    FlushShown();
    std::exit(0);
}
