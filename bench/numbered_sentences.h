// $GPRMC sentences that carry their own number in their position, so that whoever sees a label
// text knows which sentence it came from. Sentence n lies n/60000 degrees north-east of
// 10 N, 20 E: the minutes step by 0.001 (written with 4 decimals, as receivers send them), which
// keeps millions of sentences distinct and inside the valid latitude range. Each sentence
// carries its right checksum, so the tracker accepts it like a receiver's.
// Nothing here depends on the process locale, which Qt sets from the environment.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

constexpr double kLatitudeOrigin = 10.0;
constexpr double kLongitudeOrigin = 20.0;
// Sentences per degree: one per thousandth of a minute.
constexpr int64_t kSentencesPerDegree = 60000;

// Appends sentence number to out, with its checksum and CR LF.
inline void AppendNumberedSentence(int64_t number, std::string& out) {
    const auto degreesOffset = static_cast<int>(number / kSentencesPerDegree);
    const auto thousandths = static_cast<int>(number % kSentencesPerDegree);
    const int minutes = thousandths / 1000;
    const int fraction = thousandths % 1000;
    char body[96];
    const int length =
        std::snprintf(body, sizeof body,
                      "GPRMC,123519.00,A,%02d%02d.%03d0,N,%03d%02d.%03d0,E,022.4,084.4,140524,"
                      "004.0,E,A",
                      10 + degreesOffset, minutes, fraction, 20 + degreesOffset, minutes, fraction);
    unsigned checksum = 0;
    for (int i = 0; i < length; ++i)
        checksum ^= static_cast<unsigned char>(body[i]);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", checksum);
    out += '$';
    out.append(body, static_cast<size_t>(length));
    out += tail;
}

inline std::string NumberedSentence(int64_t number) {
    std::string sentence;
    AppendNumberedSentence(number, sentence);
    return sentence;
}

// The sentence number behind a latitude or longitude label text; -1 for any other text.
inline int64_t SentenceNumberOf(const std::string& labelText, double origin) {
    double degrees = 0;
    const char* end = labelText.data() + labelText.size();
    const auto [stop, error] = std::from_chars(labelText.data(), end, degrees);
    if (labelText.empty() || error != std::errc() || stop != end) return -1;
    const double number = (degrees - origin) * static_cast<double>(kSentencesPerDegree);
    return number < -0.5 ? -1 : std::llround(number);
}
