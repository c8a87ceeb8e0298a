#include "ui/platform_string.h"

#include <cstring>

#include "runtime/charset.h"
#include "runtime/temp_buffer.h"

namespace {

constexpr char kUnrepresentable = '?';

// The window system's strings are read strictly: each byte that starts no well-formed
// sequence is one character of its own.
Utf8Step DecodeAt(const PlatformString& text, size_t index) {
    return DecodeUtf8(text, index, Utf8Malformed::ReplaceEachByte);
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
        const Utf8Step step = DecodeAt(string, index);
        if (step.outcome != Utf8Outcome::Character) {
            result += string[index];  // kept as it is: case mapping does not repair text
        } else {
            AppendUtf8(result, map(step.codePoint));
        }
        index += step.length;
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
        const Utf8Step step = DecodeAt(string, index);
        index += step.length;
        if (step.outcome != Utf8Outcome::Character) {
            result += kUnrepresentable;
        } else if (step.codePoint <= 0xFF) {
            result += static_cast<char>(step.codePoint);
        } else if (step.codePoint <= 0xFFFF) {
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
        const Utf8Step step = DecodeAt(string, index);
        index += step.length;
        units += step.outcome == Utf8Outcome::Character && step.codePoint > 0xFFFF ? 2 : 1;
    }
    return units;
}

PlatformString PlatformStringUpperCase(const PlatformString& string) {
    return MapCharacters(string, [](char32_t c) { return IsLatin1Lower(c) ? c - 0x20 : c; });
}

PlatformString PlatformStringLowerCase(const PlatformString& string) {
    return MapCharacters(string, [](char32_t c) { return IsLatin1Upper(c) ? c + 0x20 : c; });
}
