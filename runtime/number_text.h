// Conversion between numbers and text. Integers are signed 64-bit, floating-point numbers
// doubles. Reading and writing always follow the "C" rules ("." as decimal point, no grouping),
// whatever locale the process runs under.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

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

// The one reader of a plain decimal integer at the start of a text, for the formats that need
// their own blank, sign and range rules (settings values, field texts, key names). Reading
// stops at the first non-digit. The magnitude saturates at 2^63, so no input can overflow and
// each caller clamps or wraps as its format says.
enum class LeadingBlanks { None, SpaceAndTab, AnyWhitespace };
enum class LeadingSign { Refused, Allowed };

struct LeadingInteger {
    bool negative = false;
    uint64_t magnitude = 0;  // at most 2^63
    size_t digits = 0;       // how many digits were read; 0: no number
    size_t end = 0;          // offset just past what was read
};

LeadingInteger ReadLeadingInteger(std::string_view text, LeadingBlanks blanks, LeadingSign sign);
// The value read, clamped to minimum … maximum.
int64_t ClampLeadingInteger(const LeadingInteger& read, int64_t minimum, int64_t maximum);
