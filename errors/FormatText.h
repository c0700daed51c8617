#pragma once
// FormatText: the program's one way to make text of a printf format, of any
// length. Declared with the compiler's printf format attribute, so that every
// message format is checked against its values at compile time (a format
// given as a named constant is checked too).

#include <cstdarg>
#include <string>

// The text formatted printing makes of format and the values after it.
[[gnu::format(printf, 1, 2)]] std::string FormatText(const char* format, ...);
// The same with the values in a va_list, for a function that takes a format
// and values of its own (and is declared with the attribute itself).
[[gnu::format(printf, 1, 0)]] std::string FormatTextList(const char* format, std::va_list values);
