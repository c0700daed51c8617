#pragma once
// LineBuf: assembles reply lines from single received bytes.
//
// CR, LF, CR LF and LF CR end a line, also when the two bytes of a pair come
// in different calls; CR CR and LF LF give an empty second line. Zero bytes
// are ignored; bytes 0x80 to 0xFF are ordinary characters. The bytes of the
// line being assembled wait in a RingBuf. A line is at most kMaxLineBytes
// long: the byte that would make it longer first ends it, as if a line end
// had arrived, and begins the next line, so a peer that never ends its line
// cannot make the buffer grow at will. A completed line is copied into a text
// of its own length; once a line has ended with a line end, a ring that had
// to grow for it returns to its initial size, while a cut keeps the ring's
// storage whole for the rest of the over-long line.
//
// The text returned by GetLine and LastLine belongs to the LineBuf and stays
// valid until the next line completes, Reset, or the end of the LineBuf.
// Before the first line completes (and after Reset) both return the empty
// text, never nullptr.
//
// Running out of memory is never reported: when the text of a completed line
// cannot be allocated there is no line (GetLine returns the empty text), the
// ready flag keeps its value and the line's bytes stay in the ring as the
// front of the next line. When the ring has lost its storage, the bytes fed
// meanwhile are lost and the next line end completes the empty line; the ring
// is then given fresh storage for the lines after it.

#include <cstdint>

#include "text/RingBuf.h"

class LineBuf {
  public:
    // The longest line, line end not included.
    static constexpr int32_t kMaxLineBytes = 64 * 1024;

    // size 0: growable ring (what the program uses); > 0: fixed ring, which
    // keeps only the last size - 1 bytes of a longer line.
    explicit LineBuf(int32_t size = 0);
    ~LineBuf();
    LineBuf(const LineBuf&) = delete;
    LineBuf& operator=(const LineBuf&) = delete;

    // Feeds one byte. Returns 1 while a completed line waits to be taken (it
    // completed with this byte, or earlier and was not taken), else 0. A line
    // that completes over an untaken one replaces it.
    int32_t PutChar(char c);
    // Feeds every byte of s as PutChar does; returns what the last PutChar
    // returned, 0 for "" or nullptr. Of several lines in s only the last
    // remains.
    int32_t PutString(const char* s);
    // The completed line with every CR and LF at its end removed (in place);
    // clears the ready flag.
    char* GetLine();
    // The completed line as it stands (after GetLine, the same trimmed text);
    // clears the ready flag.
    char* LastLine();
    // Empties the ring (back to its initial capacity), drops the last line and
    // clears the ready flag and the pending line end.
    void Reset();

  private:
    void CompleteLine(bool lineEnded);
    char* LineText();

    RingBuf ring;
    char* line = nullptr;
    int32_t lineReady = 0;
    uint8_t lastEnd = 0;
    // What GetLine and LastLine return while there is no line.
    char noLine[1] = {'\0'};
};
