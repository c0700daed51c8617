// Digests over OpenSSL's libcrypto (EVP digest interface).
#include <openssl/evp.h>

#include "text/Digest.h"

struct Digest::State {
    EVP_MD_CTX* context = nullptr;
    bool failed = false;
};

Digest::Digest(DigestAlgorithm algorithm) : state(std::make_unique<State>()) {
    const EVP_MD* kind = algorithm == DigestAlgorithm::Sha1 ? EVP_sha1() : EVP_sha256();
    state->context = EVP_MD_CTX_new();
    state->failed =
        state->context == nullptr || EVP_DigestInit_ex(state->context, kind, nullptr) != 1;
}

Digest::~Digest() {
    EVP_MD_CTX_free(state->context);
}

void Digest::Update(const void* data, size_t length) {
    if (!state->failed && length > 0) {
        state->failed = EVP_DigestUpdate(state->context, data, length) != 1;
    }
}

std::vector<unsigned char> Digest::Finish() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (state->failed || EVP_DigestFinal_ex(state->context, digest, &length) != 1) {
        state->failed = true;
        return {};
    }
    state->failed = true;  // finished: no second digest from this object
    return std::vector<unsigned char>(digest, digest + length);
}
