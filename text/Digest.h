#pragma once
// Digest: a hash of a byte stream (SHA-1 or SHA-256) from the system's own
// crypto library (OpenSSL's libcrypto on Linux and macOS, BCrypt on
// Windows). One interface, one file per platform (DigestPosix.cpp,
// DigestWin32.cpp); the build picks it. Sha256 (text/Sha256.h) is the image's
// digest over it; SHA-1 names records (app/records/RecordId.h).
//
//   Digest digest(DigestAlgorithm::Sha1);
//   digest.Update(block, length);   // as often as needed
//   std::vector<unsigned char> bytes = digest.Finish();
//
// A failure of the library (it cannot be loaded, or refuses the algorithm)
// makes Finish give no bytes at all: callers never take that for a digest.

#include <cstddef>
#include <memory>
#include <vector>

enum class DigestAlgorithm {
    Sha1,    // 20 bytes
    Sha256,  // 32 bytes
};

class Digest {
  public:
    explicit Digest(DigestAlgorithm algorithm);
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    void Update(const void* data, size_t length);
    // Ends the digest and gives its bytes (none on a failure); later calls of
    // Update or Finish start no new one and give none.
    std::vector<unsigned char> Finish();

  private:
    struct State;
    std::unique_ptr<State> state;
};
