// Turns NMEA 0183 degrees-and-minutes fields into signed decimal-degree text.
#pragma once

#include <cstdint>

// The decimal-degree text of one position field (ddmm.mmmm or dddmm.mmmm) and its hemisphere
// letter, written at start in the temporary buffer: "-" for exactly "S" or "W", then the value
// with as many decimals as the minutes text has characters. 4807.038 with "N" gives 48.117300.
// Never fails: text that is not a number reads as 0.
char* ConvertCoordinate(const char* value, const char* hemisphere, int64_t start);

// number with exactly decimals digits after the point (none and no point for 0 or less),
// rounded half up, written at start. A missing run of 1 to 10 decimals is padded with zeros; a
// longer one is not padded. decimals is lowered when number × 10^decimals would leave the
// 64-bit range, so every input has a defined result.
char* FormatFixedDecimals(double number, int64_t decimals, int64_t start);

// The integer part of number, read from its ten-decimal text, so a value a hair below a whole
// number counts as that number. Values beyond the 64-bit range saturate.
int64_t ScaledIntegerPart(double number);
