// SHA-256 over the system's BCrypt (Cryptography API: Next Generation).
#include <windows.h>

#include <bcrypt.h>

#include <vector>

#include "text/Sha256.h"

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool failed = false;
};

Sha256::Sha256() : state(std::make_unique<State>()) {
    state->failed =
        !Succeeded(
            BCryptOpenAlgorithmProvider(&state->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !Succeeded(BCryptCreateHash(state->algorithm, &state->hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() {
    if (state->hash != nullptr) {
        BCryptDestroyHash(state->hash);
    }
    if (state->algorithm != nullptr) {
        BCryptCloseAlgorithmProvider(state->algorithm, 0);
    }
}

void Sha256::Update(const void* data, size_t length) {
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

std::string Sha256::HexDigest() {
    unsigned char digest[32];
    if (state->failed || !Succeeded(BCryptFinishHash(state->hash, digest, sizeof digest, 0))) {
        state->failed = true;
        return std::string();
    }
    state->failed = true;  // finished: no second digest from this object
    return HexOfDigest(digest, sizeof digest);
}
