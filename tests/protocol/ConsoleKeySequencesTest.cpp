// The keyboard filter of console mode: which bytes a terminal delivers turn
// into which characters for the board.

#include <gtest/gtest.h>

#include <string>

#include "serial/TerminalKeys.h"

namespace {

// Feeds every byte, then lets the wait for more run out when expire is set.
std::string Decode(const std::string& bytes, bool expire = true, uint8_t erase = 127) {
    TerminalKeys keys(erase);
    std::string out;
    for (char byte : bytes) {
        keys.Feed(static_cast<uint8_t>(byte), out);
    }
    if (expire) {
        keys.Expire(out);
    }
    return out;
}

TEST(ConsoleKeysWithCharacters, PassUnchangedOneByteEach) {
    EXPECT_EQ(Decode("a"), "a");
    EXPECT_EQ(Decode("Hello?"), "Hello?");
    EXPECT_EQ(Decode("\r"), "\r");
    // Ctrl-S, Ctrl-Q, Ctrl-V, Ctrl-O, Ctrl-Z, Ctrl-\ are characters like any other.
    EXPECT_EQ(Decode("\x13\x11\x16\x0f\x1a\x1c"), "\x13\x11\x16\x0f\x1a\x1c");
    // Bytes of a UTF-8 character and DEL-free high bytes are not touched.
    EXPECT_EQ(Decode("\xc3\xa9"), "\xc3\xa9");
}

TEST(ConsoleKeysWithCharacters, BackspaceSendsEightWhateverTheEraseCharacter) {
    EXPECT_EQ(Decode("\x7f"), "\b");
    EXPECT_EQ(Decode("\b", true, 8), "\b");
    // With ^H as erase character, DEL is an ordinary byte.
    EXPECT_EQ(Decode("\x7f", true, 8), "\x7f");
}

TEST(ConsoleKeysWithCharacters, ZeroByteIsAKeyWithoutCharacter) {
    EXPECT_EQ(Decode(std::string("a\0b", 3)), "ab");
}

TEST(ConsoleKeysWithoutCharacters, CursorKeysAreDroppedWhole) {
    EXPECT_EQ(Decode("\x1b[A\x1b[B\x1b[C\x1b[D"), "");
    EXPECT_EQ(Decode("\x1bOA\x1bOD"), "");  // application cursor mode
    EXPECT_EQ(Decode("x\x1b[Ay"), "xy");
}

TEST(ConsoleKeysWithoutCharacters, FunctionAndEditingKeysAreDroppedWhole) {
    EXPECT_EQ(Decode("\x1bOP\x1bOS"), "");                  // F1, F4
    EXPECT_EQ(Decode("\x1b[15~\x1b[24~"), "");              // F5, F12
    EXPECT_EQ(Decode("\x1b[2~\x1b[3~\x1b[5~\x1b[6~"), "");  // Insert, Delete, PgUp, PgDn
    EXPECT_EQ(Decode("\x1b[H\x1b[F\x1b[1~\x1b[4~"), "");    // Home, End
    EXPECT_EQ(Decode("\x1b[[A\x1b[[E"), "");                // Linux console F1, F5
}

TEST(ConsoleKeysWithoutCharacters, ModifiedKeysAreDroppedWhole) {
    EXPECT_EQ(Decode("\x1b[1;5C"), "");   // Ctrl-Right
    EXPECT_EQ(Decode("\x1b[1;2P"), "");   // Shift-F1
    EXPECT_EQ(Decode("\x1b[15;3~"), "");  // Alt-F5
    EXPECT_EQ(Decode("\x1bO5P"), "");     // old-style Ctrl-F1
    EXPECT_EQ(Decode("\x1b[Z"), "");      // Shift-Tab
}

TEST(ConsoleKeysWithoutCharacters, SequenceSplitAcrossReadsIsStillDropped) {
    TerminalKeys keys;
    std::string out;
    keys.Feed(0x1b, out);
    EXPECT_TRUE(keys.Pending());
    keys.Feed('[', out);
    keys.Feed('1', out);
    EXPECT_TRUE(keys.Pending());
    keys.Feed('~', out);
    EXPECT_FALSE(keys.Pending());
    keys.Feed('k', out);
    EXPECT_EQ(out, "k");
}

TEST(ConsoleEscapeKey, AloneSendsTwentySevenOnceTheWaitRunsOut) {
    TerminalKeys keys;
    std::string out;
    keys.Feed(0x1b, out);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(keys.Pending());
    keys.Expire(out);
    EXPECT_EQ(out, "\x1b");
    EXPECT_FALSE(keys.Pending());
}

TEST(ConsoleEscapeKey, FollowedByAnOrdinaryKeySendsBoth) {
    EXPECT_EQ(Decode("\x1bx"), "\x1bx");  // Alt-x
    EXPECT_EQ(Decode("\x1b\r"), "\x1b\r");
}

TEST(ConsoleEscapeKey, PressedTwiceSendsTwoEscapes) {
    EXPECT_EQ(Decode("\x1b\x1b"), "\x1b\x1b");
}

TEST(ConsoleEscapeKey, BeforeAKeySequenceStaysAnEscape) {
    EXPECT_EQ(Decode("\x1b\x1b[A"), "\x1b");
}

TEST(ConsoleUnfinishedSequences, AreDroppedWhenTheWaitRunsOut) {
    EXPECT_EQ(Decode("\x1b["), "");
    EXPECT_EQ(Decode("\x1b[1;5"), "");
    EXPECT_EQ(Decode("\x1bO"), "");
    EXPECT_EQ(Decode("\x1b[1;5", true) + Decode("z"), "z");
}

TEST(ConsoleUnfinishedSequences, AControlByteEndsTheSequenceAndIsSent) {
    EXPECT_EQ(Decode("\x1b[1\r"), "\r");
    EXPECT_EQ(Decode("\x1b[\x03"), "\x03");
    EXPECT_EQ(Decode("\x1bO\x1b[A"), "");
    EXPECT_EQ(Decode("\x1b[\x1bq"), "\x1bq");
}

TEST(ConsoleUnfinishedSequences, OverlongSequenceDoesNotSwallowLaterKeys) {
    std::string bytes = "\x1b[";
    bytes += std::string(200, '1');
    bytes += "~ok";
    const std::string out = Decode(bytes);
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out.substr(out.size() - 2), "ok");
}

}  // namespace
