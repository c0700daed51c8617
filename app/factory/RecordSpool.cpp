#include "app/factory/RecordSpool.h"

#include "app/records/RecordFile.h"

namespace {

bool Blank(const std::string& text) {
    return text.find_first_not_of(" \t\r") == std::string::npos;
}

// Why a line of the file is no complete record.
std::string ProblemOf(const RecordLine& line) {
    if (line.state != RecordLineState::Object) {
        return RecordLineStateText(line.state);
    }
    for (const char* key : {"version", "mode", "outcome", "started", "run_id"}) {
        if (!line.value.contains(key)) {
            return std::string("it has no ") + key;
        }
    }
    return "";
}

SpoolLine SpoolLineOf(RecordLine& line) {
    SpoolLine taken;
    taken.number = static_cast<int64_t>(line.number);
    taken.record = IsCompleteRecord(line);
    taken.id = taken.record ? line.id : std::string();
    taken.problem = taken.record ? std::string() : ProblemOf(line);
    taken.text = std::move(line.bytes);
    return taken;
}

}  // namespace

bool ReadSpool(const std::string& file, const ForwardMark& from, size_t maxBytes, SpoolChunk& chunk,
               std::string& why) {
    chunk = SpoolChunk();
    chunk.end = from;
    RecordFile reader;
    // Only the keys that make a complete record are kept of each line's
    // value; the line's bytes are what is stored.
    if (!reader.Open(file, static_cast<uint64_t>(from.offset), static_cast<uint64_t>(from.line) + 1,
                     {"version", "mode", "outcome", "started", "run_id"})) {
        why = reader.Error();
        return false;
    }
    size_t taken = 0;
    for (RecordLine line; taken < maxBytes && reader.Next(line);) {
        // A last line without its line end is torn, or still being written.
        if (!line.ended) {
            break;
        }
        taken += static_cast<size_t>(reader.Offset() - line.offset);
        chunk.end = {static_cast<int64_t>(reader.Offset()), static_cast<int64_t>(line.number)};
        if (!Blank(line.bytes)) {
            chunk.lines.push_back(SpoolLineOf(line));
        }
    }
    chunk.atEnd = taken < maxBytes;
    if (reader.Failed()) {
        why = reader.Error();
        return false;
    }
    return true;
}
