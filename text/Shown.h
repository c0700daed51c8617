#pragma once
// What the program shows the operator on standard output, counted, so that a
// run of a gang can tell its gang with each event how much of its output
// came before it (app/gang/GangEvents.h). Every text of a download session
// goes out through these.

#include <cstdint>

// Writes text to standard output.
void Show(const char* text);
// Writes the text that format makes of the arguments, as printf does.
[[gnu::format(printf, 1, 2)]] void ShowFormatted(const char* format, ...);
// The bytes written by Show and ShowFormatted so far.
uint64_t ShownBytes();
