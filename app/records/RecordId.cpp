#include "app/records/RecordId.h"

#include <vector>

#include "text/Digest.h"
#include "text/Sha256.h"

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

bool IsDashAt(size_t at) {
    return at == 8 || at == 13 || at == 18 || at == 23;
}

}  // namespace

bool IsUuid(const std::string& text) {
    if (text.size() != 36) {
        return false;
    }
    for (size_t at = 0; at < text.size(); ++at) {
        if (IsDashAt(at) ? text[at] != '-' : !IsHexDigit(text[at])) {
            return false;
        }
    }
    return true;
}

std::string LowerCaseUuid(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'F') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string NameBasedUuid(const std::string& nameSpace, const void* name, size_t length) {
    unsigned char spaceBytes[16];
    size_t count = 0;
    for (size_t at = 0; at + 1 < nameSpace.size() && count < sizeof spaceBytes; ++at) {
        if (nameSpace[at] != '-') {
            spaceBytes[count++] = static_cast<unsigned char>(HexValue(nameSpace[at]) << 4 |
                                                             HexValue(nameSpace[at + 1]));
            ++at;
        }
    }
    Digest sha1(DigestAlgorithm::Sha1);
    sha1.Update(spaceBytes, sizeof spaceBytes);
    sha1.Update(name, length);
    std::vector<unsigned char> bytes = sha1.Finish();
    if (bytes.size() < 16) {
        return std::string();
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x50);  // version 5
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122's variant
    std::string uuid;
    for (size_t i = 0; i < 16; ++i) {
        if (IsDashAt(uuid.size())) {
            uuid += '-';
        }
        uuid += HexOfDigest(&bytes[i], 1);
    }
    return uuid;
}

std::string RecordIdOfBytes(const std::string& bytes) {
    return NameBasedUuid(kRecordIdNamespace, bytes.data(), bytes.size());
}
