#pragma once
// ConsoleSink: where console mode puts the board's output. The console hands
// over the bytes as they arrive and says when a burst of them has ended, when
// it starts, and when its port went away and came back; what becomes of the
// bytes (the screen, a log, time stamps) is the sink's business. The console
// itself prints only its own lines (the banner, the notices of a port that
// went away and came back), each on a line of its own.

#include <cstdint>
#include <string>

class ConsoleSink {
  public:
    virtual ~ConsoleSink() = default;

    // The console begins to show the board's output (its banner is out);
    // device is the device opened.
    virtual void OnConsoleStarted(const std::string& /*device*/) {}
    // Bytes from the board, in the order they arrived.
    virtual void Show(const char* bytes, uint32_t count) = 0;
    // The burst has ended (a read brought nothing): what was shown is to
    // reach the screen now.
    virtual void EndOfBurst() = 0;
    // The port went away: the console's notice follows on a line of its own,
    // and the board's next byte begins a new line.
    virtual void OnPortGone() {}
    // The port is open again, as device; the console's notice follows.
    virtual void OnPortBack(const std::string& /*device*/) {}
};

// The bytes unchanged on standard output, flushed at the end of each burst.
class PlainConsoleSink : public ConsoleSink {
  public:
    void Show(const char* bytes, uint32_t count) override;
    void EndOfBurst() override;
};
