#include "app/coordinate.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "app/temp_text.h"
#include "runtime/number_text.h"
#include "runtime/string_variable.h"
#include "runtime/temp_buffer.h"
#include "runtime/text_ops.h"

namespace {

// A point at this (1-based) position means two degree digits (ddmm.m); anything else three.
constexpr int32_t kTwoDigitPointPosition = 5;
constexpr double kMinutesPerDegree = 60.0;
constexpr double kScaleBase = 10.0;
constexpr double kRoundingOffset = 0.5;
// 2^63: scaled values must stay below it to be read back as a signed 64-bit integer.
constexpr double kScaledLimit = 9223372036854775808.0;
// Beyond this many decimals 10^decimals is no longer a finite double.
constexpr int64_t kLargestScale = 308;
constexpr int64_t kMostPadding = 10;
constexpr const char* kPadTexts[kMostPadding + 1] = {
    "",       "0",       "00",       "000",       "0000",       "00000",
    "000000", "0000000", "00000000", "000000000", "0000000000",
};

bool FitsScaled(double number, int64_t decimals) {
    return std::fabs(number * Power(kScaleBase, static_cast<double>(decimals))) + kRoundingOffset <
           kScaledLimit;
}

// Negative counts are clamped to 0. Otherwise the result is the largest count, at most the one
// asked for, at which the scaled number can be rounded without leaving the 64-bit range. For
// coordinates (below 1000 degrees) that allows 15 decimals; receivers send at most 5 or 6.
int64_t CapDecimals(double number, int64_t decimals) {
    if (decimals < 0) decimals = 0;
    if (decimals > kLargestScale) decimals = kLargestScale;
    while (decimals > 0 && !FitsScaled(number, decimals))
        --decimals;
    return decimals;
}

}  // namespace

int64_t ScaledIntegerPart(double number) {
    // The text of such a number has more digits than 64 bits hold; reading it would wrap.
    if (std::isfinite(number) && std::fabs(number) >= kScaledLimit) {
        return number > 0 ? std::numeric_limits<int64_t>::max()
                          : std::numeric_limits<int64_t>::min();
    }
    const std::string text = TempText(FloatToTextAuto, number);
    return TextToInteger(TempText(TextField, text.c_str(), 1, ".").c_str());
}

char* FormatFixedDecimals(double number, int64_t decimals, int64_t start) {
    decimals = CapDecimals(number, decimals);
    const double factor = Power(kScaleBase, static_cast<double>(decimals));
    const int64_t scaled = ScaledIntegerPart(number * factor + kRoundingOffset);
    const double rounded = static_cast<double>(scaled) / factor;

    const std::string text = TempText(FloatToTextAuto, rounded);
    const std::string whole = TempText(TextField, text.c_str(), 1, ".");
    const std::string fraction = TempText(TextField, text.c_str(), 2, ".");

    TempEmptyAt(start);
    TempAppend(whole.c_str());
    if (decimals <= 0) return TempAt(start);

    TempAppend(".");
    const auto length = static_cast<int64_t>(fraction.size());
    if (length > decimals) {
        // Cut, not rounded again: the rounding above already decided these digits.
        TempAppend(fraction.substr(0, static_cast<size_t>(decimals)).c_str());
    } else {
        TempAppend(fraction.c_str());
        const int64_t missing = decimals - length;
        if (missing <= kMostPadding) TempAppend(kPadTexts[missing]);
    }
    return TempAt(start);
}

char* ConvertCoordinate(const char* value, const char* hemisphere, int64_t start) {
    // Private copies: the arguments may lie in the temporary buffer, which the steps below grow.
    StringVariable valueText;
    StringVariable hemisphereText;
    StringCopyNew(valueText.Slot(), value);
    StringCopyNew(hemisphereText.Slot(), hemisphere);

    bool negative = TextCompare(hemisphereText.Text(), "S") == 1 ||
                    TextCompare(hemisphereText.Text(), "W") == 1;
    const int32_t degreeDigits = TextFind(valueText.Text(), ".") == kTwoDigitPointPosition ? 2 : 3;

    const double degrees = TextToFloat(TempText(TextLeft, valueText.Text(), degreeDigits).c_str());
    const std::string minutesText = TempText(TextMidToEnd, valueText.Text(), degreeDigits + 1);
    const double minutes = TextToFloat(minutesText.c_str());
    // The output keeps the input's precision: one decimal per character of the minutes text.
    const auto decimals = static_cast<int64_t>(minutesText.size());
    double number = degrees + minutes / kMinutesPerDegree;
    // Real fields carry no sign, but a minutes text such as "-90" would make the number negative
    // and give a second "-" after the hemisphere's one. The sign moves into the prefix instead.
    if (number < 0) {
        number = -number;
        negative = !negative;
    }

    TempEmptyAt(start);
    if (negative) TempAppend("-");
    FormatFixedDecimals(number, decimals, TempPosition());
    return TempAt(start);
}
