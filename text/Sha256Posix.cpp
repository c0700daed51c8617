// SHA-256 over OpenSSL's libcrypto (EVP digest interface).
#include <openssl/evp.h>

#include "text/Sha256.h"

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
    bool failed = false;
};

Sha256::Sha256() : state(std::make_unique<State>()) {
    state->context = EVP_MD_CTX_new();
    state->failed =
        state->context == nullptr || EVP_DigestInit_ex(state->context, EVP_sha256(), nullptr) != 1;
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(state->context);
}

void Sha256::Update(const void* data, size_t length) {
    if (!state->failed && length > 0) {
        state->failed = EVP_DigestUpdate(state->context, data, length) != 1;
    }
}

std::string Sha256::HexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (state->failed || EVP_DigestFinal_ex(state->context, digest, &length) != 1) {
        state->failed = true;
        return std::string();
    }
    state->failed = true;  // finished: no second digest from this object
    return HexOfDigest(digest, length);
}
