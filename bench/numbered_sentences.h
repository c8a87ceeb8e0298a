// $GPRMC sentences that carry their own number in their position, so that whoever sees a label
// text knows which sentence it came from. Sentence n lies n/600 degrees north-east of
// 10 N, 20 E: the minutes step by 0.1 (written with 4 decimals, as receivers send them).
// Nothing here depends on the process locale, which Qt sets from the environment.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

constexpr double kLatitudeOrigin = 10.0;
constexpr double kLongitudeOrigin = 20.0;

inline std::string NumberedSentence(int64_t number) {
    const auto degreesOffset = static_cast<int>(number / 600);
    const auto tenthsOfMinutes = static_cast<int>(number % 600);
    const int minutes = tenthsOfMinutes / 10;
    const int tenths = tenthsOfMinutes % 10;
    char sentence[128];
    std::snprintf(sentence, sizeof sentence,
                  "$GPRMC,123519.00,A,%02d%02d.%d000,N,%03d%02d.%d000,E,022.4,084.4,140524,004.0,"
                  "E,A*00\r\n",
                  10 + degreesOffset, minutes, tenths, 20 + degreesOffset, minutes, tenths);
    return sentence;
}

// The sentence number behind a latitude or longitude label text; -1 for any other text.
inline int64_t SentenceNumberOf(const std::string& labelText, double origin) {
    double degrees = 0;
    const char* end = labelText.data() + labelText.size();
    const auto [stop, error] = std::from_chars(labelText.data(), end, degrees);
    if (labelText.empty() || error != std::errc() || stop != end) return -1;
    const double number = (degrees - origin) * 600.0;
    return number < -0.5 ? -1 : std::llround(number);
}
