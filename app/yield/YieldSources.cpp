#include "app/yield/YieldSources.h"

#include <cstdio>

#include "app/records/RecordFile.h"
#include "app/yield/YieldMessages.h"
#include "errors/FatalError.h"
#include "text/DatabaseAddress.h"

bool SkippedRecords::Counted() {
    return ++count <= messages::kMostSkippedSaid;
}

void SkippedRecords::SayLine(const std::string& file, uint64_t line, const std::string& why) {
    if (Counted()) {
        std::fprintf(stderr, messages::kSkippedLineFormat, file.c_str(),
                     static_cast<unsigned long long>(line), why.c_str());
    }
}

void SkippedRecords::SayTorn(const std::string& file, uint64_t line) {
    if (Counted()) {
        std::fprintf(stderr, messages::kTornLineFormat, file.c_str(),
                     static_cast<unsigned long long>(line));
    }
}

void SkippedRecords::SayRow(const std::string& database, const std::string& id,
                            const std::string& why) {
    if (Counted()) {
        std::fprintf(stderr, messages::kSkippedRowFormat, ShownSource(database).c_str(), id.c_str(),
                     why.c_str());
    }
}

void SkippedRecords::End() const {
    if (count > messages::kMostSkippedSaid) {
        std::fprintf(stderr, messages::kMoreSkippedFormat,
                     static_cast<unsigned long long>(count - messages::kMostSkippedSaid));
    }
}

bool IsDatabaseSource(const std::string& source) {
    return source.rfind("postgresql://", 0) == 0 || source.rfind("postgres://", 0) == 0;
}

std::string ShownSource(const std::string& source) {
    return IsDatabaseSource(source) ? WithPasswordMasked(source) : source;
}

void ReadRecordFile(const std::string& path, YieldSet& set, SkippedRecords& skipped) {
    RecordFile file;
    if (!file.Open(path, 0, 1, YieldSet::Keys())) {
        FatalError(messages::kCannotReadSourceFormat, path.c_str(), file.Error().c_str());
    }
    RecordLine line;
    while (file.Next(line)) {
        if (!line.ended) {
            skipped.SayTorn(path, line.number);
            continue;
        }
        const std::string why = line.state == RecordLineState::Object
                                    ? set.Add(line.value, line.id)
                                    : RecordLineStateText(line.state);
        if (!why.empty()) {
            skipped.SayLine(path, line.number, why);
        }
    }
    if (file.Failed()) {
        FatalError(messages::kCannotReadSourceFormat, path.c_str(), file.Error().c_str());
    }
}
