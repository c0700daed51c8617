#include "text/Sha256.h"

#include <cstdio>
#include <vector>

#include "text/HexDigits.h"

void Sha256::Update(const void* data, size_t length) {
    digest.Update(data, length);
}

std::string Sha256::HexDigest() {
    const std::vector<unsigned char> bytes = digest.Finish();
    return HexOfDigest(bytes.data(), bytes.size());
}

std::string Sha256Hex(const void* data, size_t length) {
    Sha256 digest;
    digest.Update(data, length);
    return digest.HexDigest();
}

std::optional<std::string> Sha256OfFile(const char* path) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    Sha256 digest;
    std::vector<unsigned char> block(64 * 1024);
    size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), file)) > 0) {
        digest.Update(block.data(), got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    std::string hex = digest.HexDigest();
    if (failed || hex.empty()) {
        return std::nullopt;
    }
    return hex;
}

std::string HexOfDigest(const unsigned char* digest, size_t length) {
    std::string hex;
    hex.reserve(2 * length);
    for (size_t i = 0; i < length; ++i) {
        hex += kLowerHexDigits[digest[i] >> 4];
        hex += kLowerHexDigits[digest[i] & 0x0F];
    }
    return hex;
}
