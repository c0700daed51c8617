#include "app/factory/ForwardMark.h"

#include <fstream>
#include <nlohmann/json.hpp>

#include "text/Sha256.h"
#include "text/SmallFile.h"

namespace {

// Every mark has this length (spaces after the JSON), so that marks written
// at once each land whole.
constexpr size_t kMarkBytes = 256;

// The bytes of file before offset, at most kTailBytes; false when it is
// shorter.
bool TailBefore(const std::string& file, int64_t offset, std::string& tail) {
    const int64_t length = std::min(offset, kTailBytes);
    std::ifstream in(file, std::ios::binary);
    in.seekg(offset - length);
    tail.assign(static_cast<size_t>(length), '\0');
    in.read(&tail[0], static_cast<std::streamsize>(length));
    return in.gcount() == length;
}

std::string DigestOf(const std::string& bytes) {
    return Sha256Hex(bytes.data(), bytes.size());
}

}  // namespace

std::string ForwardMarkPath(const std::string& recordFile) {
    return recordFile + ".forwarded";
}

ForwardMark ReadForwardMark(const std::string& recordFile) {
    std::ifstream in(ForwardMarkPath(recordFile), std::ios::binary);
    const nlohmann::json mark = nlohmann::json::parse(in, nullptr, false);
    if (mark.is_discarded() || !mark.is_object() || !mark.contains("offset") ||
        !mark["offset"].is_number_unsigned() || !mark.contains("line") ||
        !mark["line"].is_number_unsigned() || !mark.contains("tail") || !mark["tail"].is_string()) {
        return {};
    }
    const ForwardMark found{mark["offset"].get<int64_t>(), mark["line"].get<int64_t>()};
    std::string tail;
    if (!TailBefore(recordFile, found.offset, tail) ||
        DigestOf(tail) != mark["tail"].get<std::string>()) {
        return {};
    }
    return found;
}

bool WriteForwardMark(const std::string& recordFile, const ForwardMark& mark, std::string& why) {
    std::string tail;
    if (!TailBefore(recordFile, mark.offset, tail)) {
        why = "the record file is shorter than the mark";
        return false;
    }
    const nlohmann::json json = {
        {"offset", mark.offset}, {"line", mark.line}, {"tail", DigestOf(tail)}};
    std::string text = json.dump();
    text.resize(std::max(kMarkBytes - 1, text.size()), ' ');
    text += '\n';
    return RewriteSmallFile(ForwardMarkPath(recordFile).c_str(), text, why);
}
