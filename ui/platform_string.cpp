#include "ui/platform_string.h"

#include <cstring>

#include "runtime/temp_buffer.h"

namespace {

constexpr char32_t kMalformed = 0xFFFFFFFF;
constexpr char kUnrepresentable = '?';

// One decoded character: its code point (kMalformed for a byte that starts no valid sequence)
// and how many bytes it took (1 for a malformed byte, so each such byte is reported once).
struct Decoded {
    char32_t codePoint;
    size_t length;
};

bool IsContinuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF) {
    return byte >= low && byte <= high;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
Decoded DecodeAt(const std::string& text, size_t index) {
    const auto byte = [&](size_t offset) -> unsigned char {
        return index + offset < text.size() ? static_cast<unsigned char>(text[index + offset]) : 0;
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return {lead, 1};
    if (lead >= 0xC2 && lead <= 0xDF) {
        if (!IsContinuation(byte(1))) return {kMalformed, 1};
        return {static_cast<char32_t>(((lead & 0x1Fu) << 6) | (byte(1) & 0x3Fu)), 2};
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        if (!IsContinuation(byte(1), low, high) || !IsContinuation(byte(2))) {
            return {kMalformed, 1};
        }
        return {static_cast<char32_t>(((lead & 0x0Fu) << 12) | ((byte(1) & 0x3Fu) << 6) |
                                      (byte(2) & 0x3Fu)),
                3};
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        if (!IsContinuation(byte(1), low, high) || !IsContinuation(byte(2)) ||
            !IsContinuation(byte(3))) {
            return {kMalformed, 1};
        }
        return {static_cast<char32_t>(((lead & 0x07u) << 18) | ((byte(1) & 0x3Fu) << 12) |
                                      ((byte(2) & 0x3Fu) << 6) | (byte(3) & 0x3Fu)),
                4};
    }
    return {kMalformed, 1};
}

void AppendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// Latin-1 letters pair up 0x41-0x5A with 0x61-0x7A and 0xC0-0xDE with 0xE0-0xFE, except the
// multiplication and division signs (0xD7, 0xF7). ß and ÿ have no Latin-1 counterpart.
bool IsLatin1Upper(char32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
}

bool IsLatin1Lower(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7);
}

template <typename Mapping>
PlatformString MapCharacters(const PlatformString& string, Mapping map) {
    PlatformString result;
    result.reserve(string.size());
    for (size_t index = 0; index < string.size();) {
        const Decoded decoded = DecodeAt(string, index);
        if (decoded.codePoint == kMalformed) {
            result += string[index];  // kept as it is: case mapping does not repair text
        } else {
            AppendUtf8(result, map(decoded.codePoint));
        }
        index += decoded.length;
    }
    return result;
}

// The empty text at start; when start is out of reach, whatever the buffer offers instead.
char* EmptyTextAt(int64_t start) {
    char* destination = TempReserve(0, start);
    if (destination == nullptr) return TempEmptyAt(start);
    destination[0] = '\0';
    return destination;
}

}  // namespace

PlatformString TextToPlatformString(const char* text) {
    PlatformString result;
    if (text == nullptr) return result;
    for (const char* p = text; *p != '\0'; ++p) {
        AppendUtf8(result, static_cast<unsigned char>(*p));
    }
    return result;
}

std::string PlatformStringToLatin1(const PlatformString& string) {
    std::string result;
    result.reserve(string.size());
    for (size_t index = 0; index < string.size();) {
        const Decoded decoded = DecodeAt(string, index);
        index += decoded.length;
        if (decoded.codePoint == kMalformed) {
            result += kUnrepresentable;
        } else if (decoded.codePoint <= 0xFF) {
            result += static_cast<char>(decoded.codePoint);
        } else if (decoded.codePoint <= 0xFFFF) {
            result += kUnrepresentable;
        } else {
            // A surrogate pair: two UTF-16 units, two characters that Latin-1 cannot hold.
            result.append(2, kUnrepresentable);
        }
    }
    return result;
}

char* PlatformStringToTemp(const PlatformString* string, int64_t start) {
    if (string == nullptr || string->empty()) return EmptyTextAt(start);
    const std::string latin1 = PlatformStringToLatin1(*string);
    const auto length = static_cast<int64_t>(latin1.size());
    char* destination = TempReserve(length, start);
    if (destination == nullptr) return EmptyTextAt(start);
    std::memcpy(destination, latin1.data(), latin1.size());
    destination[length] = '\0';
    return destination;
}

int64_t PlatformStringLength(const PlatformString& string) {
    int64_t units = 0;
    for (size_t index = 0; index < string.size();) {
        const Decoded decoded = DecodeAt(string, index);
        index += decoded.length;
        units += decoded.codePoint != kMalformed && decoded.codePoint > 0xFFFF ? 2 : 1;
    }
    return units;
}

PlatformString PlatformStringUpperCase(const PlatformString& string) {
    return MapCharacters(string, [](char32_t c) { return IsLatin1Lower(c) ? c - 0x20 : c; });
}

PlatformString PlatformStringLowerCase(const PlatformString& string) {
    return MapCharacters(string, [](char32_t c) { return IsLatin1Upper(c) ? c + 0x20 : c; });
}
