#include "app/records/RecordFile.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "app/records/RecordId.h"

namespace {

using Json = nlohmann::json;

// Builds a line's value from the parser's events, as the library's own
// builder does, except that a top-level key not asked for is skipped with
// its whole value, which is never built.
class RecordValueBuilder : public nlohmann::json_sax<Json> {
  public:
    explicit RecordValueBuilder(const std::set<std::string>& wanted) : keys(wanted) {}

    Json& Root() { return root; }

    bool null() override { return Scalar(Json()); }
    bool boolean(bool value) override { return Scalar(Json(value)); }
    bool number_integer(number_integer_t value) override { return Scalar(Json(value)); }
    bool number_unsigned(number_unsigned_t value) override { return Scalar(Json(value)); }
    bool number_float(number_float_t value, const string_t& /*text*/) override {
        return Scalar(Json(value));
    }
    bool string(string_t& value) override { return Scalar(Json(std::move(value))); }
    bool binary(binary_t& value) override { return Scalar(Json::binary(std::move(value))); }

    bool start_object(std::size_t /*elements*/) override { return Open(Json::object()); }
    bool start_array(std::size_t /*elements*/) override { return Open(Json::array()); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }

    bool key(string_t& name) override {
        if (skipping == 0 && open.size() == 1 && !keys.empty() && name != "record_id" &&
            keys.count(name) == 0) {
            skipNext = true;
            return true;
        }
        if (skipping == 0) {
            pendingKey = std::move(name);
        }
        return true;
    }

    bool parse_error(std::size_t /*position*/, const std::string& /*token*/,
                     const nlohmann::detail::exception& /*error*/) override {
        return false;
    }

  private:
    // Places value where the parser is: the root, the key just read, or the
    // end of an array; the place it took.
    Json* Place(Json&& value) {
        if (open.empty()) {
            root = std::move(value);
            return &root;
        }
        Json& container = *open.back();
        if (container.is_object()) {
            Json& slot = container[pendingKey];
            slot = std::move(value);
            return &slot;
        }
        container.push_back(std::move(value));
        return &container.back();
    }

    bool Scalar(Json&& value) {
        if (skipping == 0 && !skipNext) {
            Place(std::move(value));
        }
        skipNext = false;
        return true;
    }

    bool Open(Json&& container) {
        if (skipping > 0 || skipNext) {
            skipNext = false;
            ++skipping;
            return true;
        }
        open.push_back(Place(std::move(container)));
        return true;
    }

    bool Close() {
        if (skipping > 0) {
            --skipping;
        } else {
            open.pop_back();
        }
        return true;
    }

    const std::set<std::string>& keys;
    Json root;
    std::vector<Json*> open;  // the containers being filled, innermost last
    std::string pendingKey;
    bool skipNext = false;  // the next value belongs to a key not asked for
    size_t skipping = 0;    // depth within a value being skipped
};

}  // namespace

const char* RecordLineStateText(RecordLineState state) {
    switch (state) {
        case RecordLineState::Object:
            return "a JSON object";
        case RecordLineState::NotJson:
            return "not JSON";
        case RecordLineState::NotObject:
            return "not a JSON object";
        case RecordLineState::BadRecordId:
            return "its record_id is not a UUID";
        case RecordLineState::TooLong:
            return "a line too long for a record";
    }
    return "";
}

bool IsCompleteRecord(const RecordLine& line) {
    if (!line.ended || line.state != RecordLineState::Object) {
        return false;
    }
    for (const char* key : {"version", "mode", "outcome", "started", "run_id"}) {
        if (!line.value.contains(key)) {
            return false;
        }
    }
    return true;
}

RecordFile::RecordFile(size_t blockBytes) : buffer(blockBytes > 0 ? blockBytes : 1) {}

RecordFile::~RecordFile() = default;

bool RecordFile::Open(const std::string& path, uint64_t startOffset, uint64_t firstLineNumber,
                      std::set<std::string> keptKeys) {
    errno = 0;
    stream.open(path, std::ios::in | std::ios::binary);
    if (!stream.is_open()) {
        error = errno != 0 ? std::strerror(errno) : "it cannot be opened";
        return false;
    }
    if (startOffset > 0 && !stream.seekg(static_cast<std::streamoff>(startOffset))) {
        error = "it cannot be read from byte " + std::to_string(startOffset);
        return false;
    }
    offset = startOffset;
    nextNumber = firstLineNumber;
    keys = std::move(keptKeys);
    return true;
}

bool RecordFile::Fill() {
    if (atEnd || failed) {
        return false;
    }
    stream.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = static_cast<size_t>(stream.gcount());
    if (got == 0) {
        atEnd = true;
        if (stream.bad()) {
            failed = true;
            error = "it could not be read to its end";
        }
        return false;
    }
    begin = 0;
    end = got;
    return true;
}

bool RecordFile::Next(RecordLine& line) {
    line.offset = offset;
    line.number = nextNumber;
    line.bytes.clear();
    line.ended = false;
    uint64_t length = 0;  // the line's bytes, those cut off included
    for (;;) {
        if (begin == end && !Fill()) {
            break;
        }
        const char* from = buffer.data() + begin;
        const auto* lineEnd = static_cast<const char*>(std::memchr(from, '\n', end - begin));
        const size_t piece = lineEnd != nullptr ? static_cast<size_t>(lineEnd - from) : end - begin;
        const size_t room = kLongestLine + 1 - std::min(line.bytes.size(), kLongestLine + 1);
        line.bytes.append(from, std::min(piece, room));
        length += piece;
        begin += piece;
        if (lineEnd != nullptr) {
            ++begin;
            line.ended = true;
            break;
        }
    }
    if (length == 0 && !line.ended) {
        return false;
    }
    offset += length + (line.ended ? 1 : 0);
    ++nextNumber;
    if (line.ended && !line.bytes.empty() && line.bytes.back() == '\r') {
        line.bytes.pop_back();
        --length;
    }
    if (length > kLongestLine) {
        line.bytes.resize(kLongestLine);
        line.state = RecordLineState::TooLong;
        line.value = nullptr;
        line.id.clear();
        return true;
    }
    ParseRecordLine(line, keys);
    return true;
}

void ParseRecordLine(RecordLine& line, const std::set<std::string>& keys) {
    line.id.clear();
    RecordValueBuilder builder(keys);
    const bool parsed = Json::sax_parse(line.bytes.data(), line.bytes.data() + line.bytes.size(),
                                        &builder, nlohmann::json::input_format_t::json, true);
    line.value = parsed ? std::move(builder.Root()) : Json();
    if (!parsed) {
        line.state = RecordLineState::NotJson;
        return;
    }
    if (!line.value.is_object()) {
        line.state = RecordLineState::NotObject;
        return;
    }
    const auto named = line.value.find("record_id");
    if (named == line.value.end() || named->is_null()) {
        line.state = RecordLineState::Object;
        line.id = RecordIdOfBytes(line.bytes);
    } else if (named->is_string() && IsUuid(named->get_ref<const std::string&>())) {
        line.state = RecordLineState::Object;
        line.id = LowerCaseUuid(named->get<std::string>());
    } else {
        line.state = RecordLineState::BadRecordId;
    }
}
