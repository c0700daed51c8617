#pragma once
// The one output of what the program shows on standard output: every byte
// app/ and protocol/ show goes out through these, counted, so that a run of
// a gang can tell its gang with each event how much of its output came
// before it (app/events/EventStream.h).
//
// When standard output holds a stream for programs instead (--events -),
// DropShown makes every text shown from then on go nowhere (still counted);
// the stream's lines go out through WriteWholeLine.

#include <cstddef>
#include <cstdint>
#include <string>

// Writes text to standard output.
void Show(const char* text);
// Writes the text that format makes of the arguments, as printf does.
[[gnu::format(printf, 1, 2)]] void ShowFormatted(const char* format, ...);
// Writes count bytes as they are.
void ShowBytes(const char* bytes, size_t count);
// Sends what has been shown so far on its way.
void FlushShown();
// The bytes written by Show, ShowFormatted and ShowBytes so far.
uint64_t ShownBytes();

// From now on nothing shown reaches standard output.
void DropShown();
bool ShownDropped();

// Writes line to standard output whole, with one write, after whatever was
// shown before it; false when standard output did not take all of it. One
// implementation per platform (ShownPosix.cpp, ShownWin32.cpp).
bool WriteWholeLine(const std::string& line);
