#pragma once
// LineBuf: assembles reply lines from single received bytes.
//
// CR, LF, CR LF and LF CR end a line, also when the two bytes of a pair come
// in different calls; CR CR and LF LF give an empty second line. Zero bytes
// are ignored. The text returned by GetLine and LastLine belongs to the
// LineBuf and stays valid until the next line completes, Reset, or the end of
// the LineBuf.

#include <cstdint>

#include "text/RingBuf.h"

class LineBuf {
public:
    // size 0: growable ring (what the program uses); > 0: fixed ring.
    explicit LineBuf(int32_t size = 0);
    ~LineBuf();
    LineBuf(const LineBuf&) = delete;
    LineBuf& operator=(const LineBuf&) = delete;

    // Feeds one byte. Returns 1 while a completed line waits to be taken.
    int32_t PutChar(char c);
    // Feeds every byte of s; returns what the last PutChar returned (0 for "").
    int32_t PutString(const char* s);
    // The completed line with its line end removed; clears the ready flag.
    char* GetLine();
    // The completed line as it stands; clears the ready flag.
    char* LastLine();
    void Reset();

private:
    RingBuf ring;
    char* line = nullptr;
    int32_t lineReady = 0;
    uint8_t lastEnd = 0;
};
