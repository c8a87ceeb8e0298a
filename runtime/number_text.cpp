#include "runtime/number_text.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <locale.h>
#if NAVLUME_HAVE_XLOCALE_H
#include <xlocale.h>  // macOS declares the locale_t calls here
#endif

#include "runtime/temp_buffer.h"

namespace {

constexpr int64_t kIntegerRoom = 64;
constexpr int64_t kFloatRoom = 1024;
constexpr int32_t kAutoDecimals = 10;
constexpr int32_t kMostDecimals = 512;

// The "C" locale, made once. Numbers are read with it, so a locale that the window system set
// from the environment (German uses a decimal comma) cannot change how they are read.
locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

int DigitValue(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

char* EmptyResult(int64_t start) {
    TempEmptyAt(start);
    return TempAt(start);
}

}  // namespace

int64_t TextToInteger(const char* text) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    int base = 10;
    if (*p == '$') {
        base = 16;
        ++p;
    } else if (*p == '%') {
        base = 2;
        ++p;
    }
    // Unsigned arithmetic wraps modulo 2^64 without undefined behaviour.
    uint64_t value = 0;
    for (int digit = DigitValue(*p, base); digit >= 0; digit = DigitValue(*++p, base)) {
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    if (negative) value = 0 - value;
    return static_cast<int64_t>(value);
}

char* IntegerToText(int64_t value, int64_t start) {
    char* out = TempReserve(kIntegerRoom, start);
    if (out == nullptr) return EmptyResult(start);
    // The magnitude as unsigned, so the most negative value needs no special case.
    uint64_t magnitude = static_cast<uint64_t>(value);
    int64_t length = 0;
    if (value < 0) {
        out[length++] = '-';
        magnitude = 0 - magnitude;
    }
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count > 0)
        out[length++] = digits[--count];
    out[length] = '\0';
    TempRelease(kIntegerRoom - length);
    return out;
}

double TextToFloat(const char* text) {
    // strtod reads the words FloatToText writes ("+Infinity", "-Infinity", "NaN") in any case.
    if (text == nullptr) return 0.0;
#if NAVLUME_HAVE_STRTOD_L
    return strtod_l(text, nullptr, CLocale());
#else
    // The plain POSIX way: the "C" locale for this thread alone, around the one call.
    const locale_t previous = uselocale(CLocale());
    const double value = std::strtod(text, nullptr);
    if (previous != static_cast<locale_t>(nullptr)) uselocale(previous);
    return value;
#endif
}

char* FloatToText(int32_t decimals, double value, int64_t start) {
    char* out = TempReserve(kFloatRoom, start);
    if (out == nullptr) return EmptyResult(start);

    const char* word = nullptr;
    if (std::isnan(value))
        word = "NaN";
    else if (std::isinf(value))
        word = value > 0 ? "+Infinity" : "-Infinity";
    if (word != nullptr) {
        const auto length = static_cast<int64_t>(std::strlen(word));
        std::memcpy(out, word, static_cast<size_t>(length) + 1);
        TempRelease(kFloatRoom - length);
        return out;
    }

    if (value == 0.0) value = 0.0;  // -0.0 prints as 0
    const bool automatic = decimals == -1;
    int32_t precision = automatic ? kAutoDecimals : decimals;
    if (precision < 0) precision = 0;
    if (precision > kMostDecimals) precision = kMostDecimals;

    // to_chars formats exactly like printf's "%.Nf" in the "C" locale. The room always suffices:
    // the largest double has 309 integer digits, plus sign, point and 512 decimals.
    const auto result =
        std::to_chars(out, out + kFloatRoom - 1, value, std::chars_format::fixed, precision);
    int64_t length = result.ptr - out;

    if (automatic && std::memchr(out, '.', static_cast<size_t>(length)) != nullptr) {
        while (length > 0 && out[length - 1] == '0')
            --length;
        if (length > 0 && out[length - 1] == '.') --length;
    }
    out[length] = '\0';
    TempRelease(kFloatRoom - length);
    return out;
}

char* FloatToTextAuto(double value, int64_t start) {
    return FloatToText(-1, value, start);
}

double Power(double base, double exponent) {
    return std::pow(base, exponent);
}

LeadingInteger ReadLeadingInteger(std::string_view text, LeadingBlanks blanks, LeadingSign sign) {
    const auto isBlank = [blanks](char c) {
        if (blanks == LeadingBlanks::None) return false;
        if (c == ' ' || c == '\t') return true;
        return blanks == LeadingBlanks::AnyWhitespace && c >= '\n' && c <= '\r';
    };
    LeadingInteger read;
    size_t at = 0;
    while (at < text.size() && isBlank(text[at]))
        ++at;
    if (sign == LeadingSign::Allowed && at < text.size() && (text[at] == '-' || text[at] == '+')) {
        read.negative = text[at] == '-';
        ++at;
    }
    constexpr uint64_t kLimit = uint64_t{1} << 63;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++read.digits) {
        const auto digit = static_cast<uint64_t>(text[at] - '0');
        read.magnitude =
            read.magnitude > (kLimit - digit) / 10 ? kLimit : read.magnitude * 10 + digit;
    }
    read.end = read.digits == 0 ? 0 : at;
    return read;
}

int64_t ClampLeadingInteger(const LeadingInteger& read, int64_t minimum, int64_t maximum) {
    // Compared as magnitudes first, because 2^63 fits no int64_t.
    int64_t value = 0;
    if (read.negative && read.magnitude != 0) {
        const uint64_t floor = minimum < 0 ? 0 - static_cast<uint64_t>(minimum) : 0;
        if (read.magnitude >= floor) return minimum;
        value = -static_cast<int64_t>(read.magnitude);
    } else if (!read.negative) {
        if (maximum < 0 || read.magnitude >= static_cast<uint64_t>(maximum)) return maximum;
        value = static_cast<int64_t>(read.magnitude);
    }
    return value < minimum ? minimum : value > maximum ? maximum : value;
}
