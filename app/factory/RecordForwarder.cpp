#include "app/factory/RecordForwarder.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "app/factory/FactoryMessages.h"
#include "errors/FormatText.h"

namespace {

// A mark is moved only forward: a forwarder that started earlier and ends
// later leaves the later one's mark.
void AdvanceMark(const std::string& file, const SpoolChunk& chunk, ForwardTally& tally) {
    if (chunk.end.offset <= ReadForwardMark(file).offset) {
        return;
    }
    std::string why;
    if (!WriteForwardMark(file, chunk.end, why)) {
        // The records are stored; the next forward reads them again and
        // stores nothing twice.
        tally.notes += FormatText(messages::kCannotWriteMarkFormat, ForwardMarkPath(file).c_str(),
                                  why.c_str());
    }
}

}  // namespace

long long RecordsIn(const SpoolChunk& chunk) {
    return std::count_if(chunk.lines.begin(), chunk.lines.end(),
                         [](const SpoolLine& line) { return line.record; });
}

std::string RecordsWaitText(long long count, const std::string& file, const std::string& why) {
    return count == 1 ? FormatText(messages::kRecordWaitsFormat, file.c_str(), why.c_str())
                      : FormatText(messages::kRecordsWaitFormat, count, file.c_str(), why.c_str());
}

bool ForwardChunk(RecordDatabase& database, const std::string& file, const SpoolChunk& chunk,
                  ForwardTally& tally, std::string& why) {
    std::vector<RecordToStore> records;
    for (const SpoolLine& line : chunk.lines) {
        if (line.record) {
            records.push_back({line.id, line.text});
        }
    }
    std::vector<StoredRecord> results;
    if (!records.empty() && !database.Store(records, results, why)) {
        return false;
    }
    size_t next = 0;
    for (const SpoolLine& line : chunk.lines) {
        const long long number = static_cast<long long>(line.number);
        if (!line.record) {
            tally.left.push_back(FormatText(messages::kLineNotARecordFormat, file.c_str(), number,
                                            line.problem.c_str()));
            continue;
        }
        const StoredRecord& stored = results[next++];
        if (stored.result == StoredRecord::Result::Refused) {
            ++tally.refused;
            tally.left.push_back(
                FormatText(messages::kLineRefusedFormat, file.c_str(), number, stored.why.c_str()));
        } else {
            ++(stored.result == StoredRecord::Result::Stored ? tally.forwarded : tally.hadAlready);
        }
    }
    AdvanceMark(file, chunk, tally);
    return true;
}

RecordForwarder::RecordForwarder(std::string recordFile,
                                 std::unique_ptr<RecordDatabase> recordDatabase)
    : file(std::move(recordFile)), database(std::move(recordDatabase)) {}

void RecordForwarder::StartEarly() {
    if (database != nullptr) {
        database->StartEarly();
    }
}

std::string RecordForwarder::Forward(Clock::time_point now) {
    SpoolChunk chunk;
    std::string why;
    if (!ReadSpool(file, ReadForwardMark(file), std::numeric_limits<size_t>::max(), chunk, why)) {
        return FormatText(messages::kCannotReadRecordsFormat, file.c_str(), why.c_str());
    }
    if (chunk.lines.empty() || database == nullptr) {
        return "";
    }
    const long long waiting = RecordsIn(chunk);
    if (nextTry && now < *nextTry && waiting > 0) {
        const long long seconds =
            std::chrono::duration_cast<std::chrono::seconds>(*nextTry - now).count() + 1;
        return waiting == 1 ? FormatText(messages::kRecordWaitsRetryFormat, file.c_str(), seconds,
                                         awayBecause.c_str())
                            : FormatText(messages::kRecordsWaitRetryFormat, waiting, file.c_str(),
                                         seconds, awayBecause.c_str());
    }
    ForwardTally tally;
    if (!ForwardChunk(*database, file, chunk, tally, why)) {
        nextTry = now + kRetryAfter;
        awayBecause = why;
        return RecordsWaitText(waiting, file, why);
    }
    nextTry.reset();
    std::string said;
    for (const std::string& line : tally.left) {
        said += line;
    }
    return said + tally.notes;
}

std::unique_ptr<RecordForwarder> MakeRecordForwarder(const char* recordFile, const char* address) {
    if (address == nullptr) {
        return nullptr;
    }
    return std::make_unique<RecordForwarder>(recordFile,
                                             OpenRecordDatabase(address, DatabaseWaits()));
}
