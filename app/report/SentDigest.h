#pragma once
// SentDigest: the SHA-256 of the record lines a board was sent, exactly as
// they went out (a stamped line as stamped), line ends included: the
// record's sent_sha256.
//
// The session tells each record line as the port takes it, and after an
// interrupt may take back the last ones (their bytes were dropped from the
// port's queue: SessionObserver::OnRecordsWithdrawn). A digest cannot be
// undone, so the newest lines are held unhashed: every line whose later
// lines do not yet make kMostBytesWithdrawn bytes, the most a withdrawal
// reaches back. Older lines are hashed in batches, so the memory held stays
// about twice that, whatever the image's size.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

class Sha256;

class SentDigest {
  public:
    // holdBytes: how far back a withdrawal may reach (tests use small ones).
    explicit SentDigest(size_t holdBytes);
    ~SentDigest();
    SentDigest(const SentDigest&) = delete;
    SentDigest& operator=(const SentDigest&) = delete;

    // A record line sent, line end included.
    void Add(const char* line, size_t length);
    // Only the first count lines added were sent. A count that reaches past
    // the lines held leaves the digest unknown.
    void KeepFirst(int64_t count);
    // The lines that count: those added, less those taken back.
    int64_t Lines() const { return lines; }

    // The digest of the lines that count, as 64 lower-case hex digits; empty
    // when no line counts, when it is unknown, or when the library failed.
    // Ends the digest: lines added later are not in it.
    std::string HexDigest();

  private:
    // Hashes the oldest held lines that no withdrawal can reach any more.
    void Settle();

    size_t hold;
    std::unique_ptr<Sha256> digest;
    std::string held;                  // the bytes of the held lines, in order
    std::deque<uint32_t> heldLengths;  // their lengths
    int64_t lines = 0;
    bool unknown = false;
    std::optional<std::string> ended;  // the digest, once made
};
