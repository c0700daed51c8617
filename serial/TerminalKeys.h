#pragma once
// TerminalKeys: turns the bytes a terminal delivers for key presses into the
// characters console mode sends to the board.
//
// A terminal in key-at-a-time mode sends most keys as their character, but
// cursor, function and editing keys as escape sequences: ESC [ A, ESC O P,
// ESC [ 1 5 ~, ESC [ 1 ; 5 C, ESC [ [ A (the Linux console's F1). Those keys
// have no character, so their sequences are dropped whole. An Escape pressed
// alone arrives as a lone ESC: whether more follows is decided by the caller
// with a short wait, after which Expire settles it as 27. ESC followed by
// anything that cannot begin a sequence (Alt with a letter) gives 27 and that
// character. The terminal's erase character (Backspace, usually 127) gives 8,
// and a zero byte (a key without a character) gives nothing.
//
// Pure: no platform calls, no time.

#include <cstdint>
#include <string>

class TerminalKeys {
  public:
    // eraseChar: the byte the terminal sends for Backspace.
    explicit TerminalKeys(uint8_t eraseChar = kDefaultEraseChar);

    // Takes one byte from the terminal; appends to out the characters it
    // completes (none, one, or 27 and one more).
    void Feed(uint8_t byte, std::string& out);
    // True while an ESC or an unfinished sequence waits for its next byte.
    bool Pending() const { return state != State::Ground; }
    // Nothing more came within the wait: a lone ESC gives 27, an unfinished
    // sequence is dropped.
    void Expire(std::string& out);

    static constexpr uint8_t kDefaultEraseChar = 127;
    static constexpr char kBackspace = 8;
    static constexpr char kEscape = 27;
    // A sequence longer than this is not a key; it is dropped.
    static constexpr int kMaxSequenceBytes = 32;

  private:
    enum class State { Ground, Escape, Csi, CsiBracket, Ss3 };

    void FeedGround(uint8_t byte, std::string& out);
    void FeedSequence(uint8_t byte, std::string& out);

    uint8_t eraseChar;
    State state = State::Ground;
    int sequenceBytes = 0;
};
