// Digests over the system's BCrypt (Cryptography API: Next Generation).
#include <windows.h>

#include <bcrypt.h>

#include "text/Digest.h"

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

struct Digest::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ULONG length = 0;
    bool failed = false;
};

Digest::Digest(DigestAlgorithm algorithm) : state(std::make_unique<State>()) {
    const bool sha1 = algorithm == DigestAlgorithm::Sha1;
    state->length = sha1 ? 20 : 32;
    state->failed =
        !Succeeded(BCryptOpenAlgorithmProvider(
            &state->algorithm, sha1 ? BCRYPT_SHA1_ALGORITHM : BCRYPT_SHA256_ALGORITHM, nullptr,
            0)) ||
        !Succeeded(BCryptCreateHash(state->algorithm, &state->hash, nullptr, 0, nullptr, 0, 0));
}

Digest::~Digest() {
    if (state->hash != nullptr) {
        BCryptDestroyHash(state->hash);
    }
    if (state->algorithm != nullptr) {
        BCryptCloseAlgorithmProvider(state->algorithm, 0);
    }
}

void Digest::Update(const void* data, size_t length) {
    // BCryptHashData takes at most a ULONG per call.
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (!state->failed && length > 0) {
        const ULONG piece = length > 0x40000000u ? 0x40000000u : static_cast<ULONG>(length);
        state->failed =
            !Succeeded(BCryptHashData(state->hash, const_cast<PUCHAR>(bytes), piece, 0));
        bytes += piece;
        length -= piece;
    }
}

std::vector<unsigned char> Digest::Finish() {
    std::vector<unsigned char> digest(state->length);
    if (state->failed ||
        !Succeeded(BCryptFinishHash(state->hash, digest.data(), state->length, 0))) {
        state->failed = true;
        return {};
    }
    state->failed = true;  // finished: no second digest from this object
    return digest;
}
