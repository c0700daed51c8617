#pragma once
// Sha256: the SHA-256 digest of a byte stream, from the system's own crypto
// library (OpenSSL's libcrypto on Linux and macOS, BCrypt on Windows),
// through Digest (text/Digest.h), which has one file per platform.
//
//   Sha256 digest;
//   digest.Update(block, length);   // as often as needed
//   std::string hex = digest.HexDigest();
//
// The digest is given as 64 lower-case hex digits. A failure of the library
// (it cannot be loaded, or refuses the algorithm) makes HexDigest return the
// empty text: callers show that as "unknown", never as a digest.

#include <cstddef>
#include <optional>
#include <string>

#include "text/Digest.h"

class Sha256 {
  public:
    Sha256() : digest(DigestAlgorithm::Sha256) {}

    void Update(const void* data, size_t length);
    // Ends the digest; later calls of Update or HexDigest start no new one
    // and give the empty text.
    std::string HexDigest();

  private:
    Digest digest;
};

// The digest of length bytes at data.
std::string Sha256Hex(const void* data, size_t length);

// The digest of the whole file at path, read as bytes; nothing when the file
// cannot be opened or read to its end, or the library fails.
std::optional<std::string> Sha256OfFile(const char* path);

// Formats the bytes of a finished digest as lower-case hex.
std::string HexOfDigest(const unsigned char* digest, size_t length);
