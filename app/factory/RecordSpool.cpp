#include "app/factory/RecordSpool.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

namespace {

constexpr size_t kBlockBytes = 65536;

// What the line holds: a complete record and its id, or why not.
void Classify(SpoolLine& line) {
    const nlohmann::json json = nlohmann::json::parse(line.text, nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        line.problem = "not JSON";
        return;
    }
    for (const char* key : {"version", "mode", "outcome", "started", "run_id"}) {
        if (!json.contains(key)) {
            line.problem = std::string("no ") + key;
            return;
        }
    }
    if (!json.contains("record_id") || !json["record_id"].is_string()) {
        line.problem = "no record_id";
        return;
    }
    line.record = true;
    line.id = json["record_id"].get<std::string>();
}

bool Blank(const std::string& text) {
    return text.find_first_not_of(" \t\r") == std::string::npos;
}

}  // namespace

bool ReadSpool(const std::string& file, const ForwardMark& from, size_t maxBytes, SpoolChunk& chunk,
               std::string& why) {
    chunk = SpoolChunk();
    chunk.end = from;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        why = "cannot open";
        return false;
    }
    // The tail starts with the bytes before the mark, for a chunk of short
    // lines.
    const int64_t before = std::min(from.offset, kTailBytes);
    in.seekg(from.offset - before);
    chunk.tail.resize(static_cast<size_t>(before));
    in.read(&chunk.tail[0], static_cast<std::streamsize>(before));
    std::string pending;
    size_t taken = 0;
    char block[kBlockBytes];
    while (in.read(block, sizeof block) || in.gcount() > 0) {
        pending.append(block, static_cast<size_t>(in.gcount()));
        size_t start = 0;
        for (size_t end = pending.find('\n'); end != std::string::npos;
             start = end + 1, end = pending.find('\n', start)) {
            if (taken >= maxBytes && taken > 0) {
                chunk.atEnd = false;
                return true;
            }
            SpoolLine line;
            line.number = ++chunk.end.line;
            line.text = pending.substr(start, end - start);
            chunk.end.offset += static_cast<int64_t>(end + 1 - start);
            taken += end + 1 - start;
            chunk.tail.append(pending, start, end + 1 - start);
            if (chunk.tail.size() > static_cast<size_t>(kTailBytes)) {
                chunk.tail.erase(0, chunk.tail.size() - static_cast<size_t>(kTailBytes));
            }
            if (!Blank(line.text)) {
                Classify(line);
                chunk.lines.push_back(std::move(line));
            }
        }
        pending.erase(0, start);
    }
    if (in.bad()) {
        why = "cannot read";
        return false;
    }
    return true;
}
