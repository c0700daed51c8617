#include "app/factory/ForwardRecords.h"

#include <filesystem>
#include <system_error>

#include "app/factory/FactoryMessages.h"
#include "app/factory/RecordForwarder.h"
#include "errors/FormatText.h"
#include "text/Shown.h"

namespace {

constexpr int kDefaultConnectMs = 10000;
constexpr int kAnswerMs = 60000;

// The complete records of file from from on, for the count of those that
// wait.
long long RecordsFrom(const std::string& file, const ForwardMark& from) {
    long long count = 0;
    SpoolChunk chunk;
    std::string why;
    for (ForwardMark at = from; ReadSpool(file, at, kForwardChunkBytes, chunk, why);
         at = chunk.end) {
        count += RecordsIn(chunk);
        if (chunk.atEnd) {
            break;
        }
    }
    return count;
}

std::string LinesLeftText(const ForwardTally& tally) {
    std::string text;
    const long long left = static_cast<long long>(tally.left.size());
    for (long long i = 0; i < left && i < messages::kMaxLinesShown; ++i) {
        text += tally.left[static_cast<size_t>(i)];
    }
    if (left > messages::kMaxLinesShown) {
        text += FormatText(messages::kMoreLinesFormat, left - messages::kMaxLinesShown);
    }
    return text;
}

}  // namespace

ForwardRecordsEnd ForwardRecords(const std::string& file, const std::string& address) {
    DatabaseWaits waits;
    const int given = AddressConnectTimeoutMs(address);
    waits.connectMs = given > 0 ? given : kDefaultConnectMs;
    waits.answerMs = kAnswerMs;
    const std::unique_ptr<RecordDatabase> database = OpenRecordDatabase(address, waits);
    if (database == nullptr) {
        return {1, FormatText(messages::kNoRecordDatabaseFormat, "--forward-records")};
    }
    ForwardTally tally;
    SpoolChunk chunk;
    std::string why;
    // A station that has written no record yet has none to forward.
    std::error_code missing;
    const bool noFile = !std::filesystem::exists(file, missing);
    for (ForwardMark from; !noFile; from = chunk.end) {
        if (!ReadSpool(file, from, kForwardChunkBytes, chunk, why)) {
            return {1, FormatText(messages::kCannotReadRecordsFormat, file.c_str(), why.c_str())};
        }
        if (!ForwardChunk(*database, file, chunk, tally, why)) {
            return {1, RecordsWaitText(RecordsFrom(file, from), file, why)};
        }
        if (chunk.atEnd) {
            break;
        }
    }
    ShowFormatted(messages::kForwardedFormat, tally.forwarded, tally.hadAlready,
                  static_cast<long long>(tally.left.size()));
    return {tally.refused == 0 ? 0 : 1, LinesLeftText(tally) + tally.notes};
}
