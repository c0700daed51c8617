#pragma once
// LineStamper: puts a stamp in front of every line of a byte stream, at the
// line's first byte, without holding anything back: the bytes of a line that
// is still growing pass on as they come, and the next line is stamped when
// its first byte arrives. A line starts with the stream, after LF, and after
// a CR that is not followed by LF (known only when the byte after the CR
// arrives). Nothing else of the stream changes.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

class LineStamper {
  public:
    // Appends bytes to out, with stamp in front of the first byte of each
    // line that starts among them.
    void Add(const char* bytes, std::size_t count, const std::string& stamp, std::string& out);
    // Whether the next byte starts a line (a stamp would go in front of it
    // unless it is the LF of a CR LF).
    bool AtLineStart() const { return state != State::InLine; }
    // The next byte starts a line, whatever came before (something else was
    // written between the lines).
    void StartLine() { state = State::AtStart; }

  private:
    enum class State { AtStart, InLine, AfterCr };
    State state = State::AtStart;
};

// "[  12.345] ": the seconds since a start, to the millisecond, at least four
// digits wide before the point.
std::string ElapsedStamp(int64_t milliseconds);
// "[2026-12-09 15:04:05.123] ": a date and time with its milliseconds.
std::string DateTimeStamp(const std::tm& when, int milliseconds);
