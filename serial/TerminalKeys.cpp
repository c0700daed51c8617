#include "serial/TerminalKeys.h"

namespace {

constexpr uint8_t kEscByte = 0x1B;

bool IsParameterOrIntermediate(uint8_t byte) {
    return byte >= 0x20 && byte <= 0x3F;
}

bool IsParameter(uint8_t byte) {
    return byte >= 0x30 && byte <= 0x3F;
}

bool IsFinal(uint8_t byte) {
    return byte >= 0x40 && byte <= 0x7E;
}

}  // namespace

TerminalKeys::TerminalKeys(uint8_t erase) : eraseChar(erase) {}

void TerminalKeys::Feed(uint8_t byte, std::string& out) {
    if (state == State::Ground) {
        FeedGround(byte, out);
        return;
    }
    if (state == State::Escape) {
        if (byte == '[' || byte == 'O') {
            state = byte == '[' ? State::Csi : State::Ss3;
            sequenceBytes = 2;
            return;
        }
        // Not a key sequence: the Escape stands alone, the byte is a key of
        // its own (possibly the next Escape).
        out.push_back(kEscape);
        state = State::Ground;
        FeedGround(byte, out);
        return;
    }
    FeedSequence(byte, out);
}

void TerminalKeys::FeedGround(uint8_t byte, std::string& out) {
    if (byte == kEscByte) {
        state = State::Escape;
    } else if (byte == eraseChar) {
        out.push_back(kBackspace);
    } else if (byte != 0) {
        out.push_back(static_cast<char>(byte));
    }
}

void TerminalKeys::FeedSequence(uint8_t byte, std::string& out) {
    ++sequenceBytes;
    if (state == State::Csi && sequenceBytes == 3 && byte == '[') {
        state = State::CsiBracket;  // ESC [ [ x: a function key of the Linux console
        return;
    }
    if (IsFinal(byte)) {
        state = State::Ground;  // the whole key is dropped
        return;
    }
    const bool continues = (state == State::Csi && IsParameterOrIntermediate(byte)) ||
                           (state == State::Ss3 && IsParameter(byte));
    if (!continues) {
        // A byte that cannot be part of a key sequence: the unfinished
        // sequence is dropped and the byte is taken as typed.
        state = State::Ground;
        FeedGround(byte, out);
        return;
    }
    if (sequenceBytes >= kMaxSequenceBytes) {
        state = State::Ground;
    }
}

void TerminalKeys::Expire(std::string& out) {
    if (state == State::Escape) {
        out.push_back(kEscape);
    }
    state = State::Ground;
}
