// The reading of record files fed arbitrary files, read in blocks of several
// sizes, from the start or from a later line's offset, with every key or a
// few: each line must be model::RecordFileLines' line (offset, number,
// bytes, line end), its state and value what the JSON library's own parser
// makes of the bytes (the keys not asked for left out), and its id the
// record_id in lower case, or the name of its bytes.

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "app/records/RecordFile.h"
#include "app/records/RecordId.h"
#include "fuzz/Check.h"
#include "fuzz/Models.h"
#include "fuzz/ScratchFile.h"

namespace {

using Json = nlohmann::json;

// What the line's value and state must be, by the library's whole parse.
void CheckParse(const RecordLine& line, const std::set<std::string>& keys) {
    Json whole;
    bool parsed = true;
    try {
        whole = Json::parse(line.bytes);
    } catch (const Json::exception&) {  // a syntax error, or a number out of range
        parsed = false;
    }
    if (!parsed || !whole.is_object()) {
        FUZZ_CHECK(line.state == (parsed ? RecordLineState::NotObject : RecordLineState::NotJson),
                   "state " << static_cast<int>(line.state));
        FUZZ_CHECK(line.id.empty(), "id of no object");
        return;
    }
    Json expected = Json::object();
    for (auto member = whole.begin(); member != whole.end(); ++member) {
        if (keys.empty() || keys.count(member.key()) != 0 || member.key() == "record_id") {
            expected[member.key()] = member.value();
        }
    }
    const auto named = whole.find("record_id");
    if (named == whole.end() || named->is_null()) {
        FUZZ_CHECK(line.state == RecordLineState::Object, "object without record_id");
        FUZZ_CHECK(line.id == RecordIdOfBytes(line.bytes), "id of the bytes");
    } else if (named->is_string() && IsUuid(named->get<std::string>())) {
        FUZZ_CHECK(line.state == RecordLineState::Object, "object with record_id");
        FUZZ_CHECK(line.id == LowerCaseUuid(named->get<std::string>()), "record_id");
    } else {
        FUZZ_CHECK(line.state == RecordLineState::BadRecordId, "bad record_id");
        return;
    }
    FUZZ_CHECK(line.value == expected,
               "value " << line.value.dump() << " against " << expected.dump());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    static const size_t kBlocks[] = {1, 2, 3, 7, 64, 4096, 65536};
    const size_t block = kBlocks[data[0] % 7];
    std::set<std::string> keys;
    if (data[0] / 7 % 2 == 1) {
        keys = {"outcome", "mode", "a"};
    }
    const std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);
    static const std::string path = ScratchPath("records");
    WriteScratch(path, content);
    const std::vector<model::RecordFileLine> expected = model::RecordFileLines(content);
    const size_t first = std::min<size_t>(data[0] / 14 % 4, expected.size());
    const size_t offset = first < expected.size() ? expected[first].offset : content.size();

    RecordFile file(block);
    FUZZ_CHECK(file.Open(path, offset, first + 1, keys), "open: " << file.Error());
    RecordLine line;
    size_t index = first;
    while (file.Next(line)) {
        FUZZ_CHECK(index < expected.size(), "a line past the last");
        const model::RecordFileLine& model = expected[index];
        FUZZ_CHECK(line.offset == model.offset, "offset " << line.offset << " of line " << index);
        FUZZ_CHECK(line.number == index + 1, "number");
        FUZZ_CHECK(line.bytes == model.bytes, "bytes of line " << index);
        FUZZ_CHECK(line.ended == model.ended, "line end");
        CheckParse(line, keys);
        ++index;
    }
    FUZZ_CHECK(!file.Failed(), "read failed");
    FUZZ_CHECK(index == expected.size(), "lines: " << index << " of " << expected.size());
    FUZZ_CHECK(file.Offset() == content.size(), "offset at the end");
    return 0;
}
