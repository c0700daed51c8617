#include "app/report/SentDigest.h"

#include "text/Sha256.h"

SentDigest::SentDigest(size_t holdBytes) : hold(holdBytes), digest(std::make_unique<Sha256>()) {}

SentDigest::~SentDigest() = default;

void SentDigest::Add(const char* line, size_t length) {
    held.append(line, length);
    heldLengths.push_back(static_cast<uint32_t>(length));
    ++lines;
    // Settling moves what stays held to the front: done once the held bytes
    // have doubled, it costs about one byte moved for each byte added.
    if (held.size() > 2 * hold + length) {
        Settle();
    }
}

void SentDigest::Settle() {
    size_t settled = 0;
    size_t after = held.size();  // bytes of the lines after those settled so far
    while (!heldLengths.empty() && after - heldLengths.front() > hold) {
        after -= heldLengths.front();
        settled += heldLengths.front();
        heldLengths.pop_front();
    }
    digest->Update(held.data(), settled);
    held.erase(0, settled);
}

void SentDigest::KeepFirst(int64_t count) {
    while (lines > count && !heldLengths.empty()) {
        held.resize(held.size() - heldLengths.back());
        heldLengths.pop_back();
        --lines;
    }
    if (lines > count) {
        unknown = true;
        lines = count;
    }
}

std::string SentDigest::HexDigest() {
    if (!ended) {
        const bool none = lines <= 0 || unknown;
        if (!none) {
            digest->Update(held.data(), held.size());
        }
        ended = none ? std::string() : digest->HexDigest();
    }
    return *ended;
}
