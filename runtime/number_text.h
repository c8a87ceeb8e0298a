// Conversion between numbers and text. Integers are signed 64-bit, floating-point numbers
// doubles. Reading and writing always follow the "C" rules ("." as decimal point, no grouping),
// whatever locale the process runs under.
#pragma once

#include <cstdint>

// Reads a decimal, "$" hexadecimal or "%" binary integer after blanks and one optional sign.
// Reading stops at the first character that does not fit; no digits give 0; overflow wraps.
int64_t TextToInteger(const char* text);
// The decimal text of value, written at start in the temporary buffer.
char* IntegerToText(int64_t value, int64_t start);
// "+Infinity", "-Infinity" and "NaN" (any case, the whole text) give the special values; any
// other text is read like the C library's atof in the "C" locale (unreadable gives 0.0).
double TextToFloat(const char* text);
// value with decimals digits after the point (clamped to 0 … 512). decimals -1 writes ten
// decimals, then trims trailing zeros and a trailing point. Zero never prints a minus sign;
// the special values print as "+Infinity", "-Infinity" and "NaN".
char* FloatToText(int32_t decimals, double value, int64_t start);
// FloatToText with decimals -1: 48.1173 gives "48.1173", 2.0 gives "2".
char* FloatToTextAuto(double value, int64_t start);
// base raised to exponent.
double Power(double base, double exponent);
