#pragma once
// ScriptedHost: the host's end of a simulated line, driven step by step by a
// test: it opens the board's port (raw), writes bytes and reads the board's
// answer with a deadline, keeping every chunk with its arrival time.
//
// Not thread-safe: one test thread drives it.

#include <chrono>
#include <string>
#include <vector>

#include "sim/Board.h"

namespace harness {

class ScriptedHost {
  public:
    // Opens path (a pseudo-terminal slave) as a raw line; throws
    // std::runtime_error if it cannot.
    explicit ScriptedHost(const std::string& path);
    ~ScriptedHost();
    ScriptedHost(const ScriptedHost&) = delete;
    ScriptedHost& operator=(const ScriptedHost&) = delete;

    // Writes all of bytes (waiting while the line is full, up to timeoutMs);
    // false if they could not all be written.
    bool Write(const std::string& bytes, int timeoutMs = 10000);

    // Reads until everything read so far contains text (after offset from).
    bool ReadUntil(const std::string& text, int timeoutMs, size_t from = 0);
    // Reads until at least count bytes have been read in all.
    bool ReadBytes(size_t count, int timeoutMs);
    // Reads until the line hangs up (the board closed its side).
    bool WaitForHangUp(int timeoutMs);

    // Everything read so far, and the same as timed chunks.
    const std::string& Received() const { return received; }
    const std::vector<sim::ReceivedChunk>& Chunks() const { return chunks; }
    // Forgets what was read so far.
    void Clear();

  private:
    // One poll and read; false when the deadline passed or the line hung up.
    bool ReadSome(std::chrono::steady_clock::time_point deadline);

    int fd = -1;
    bool hungUp = false;
    std::string received;
    std::vector<sim::ReceivedChunk> chunks;
};

}  // namespace harness
