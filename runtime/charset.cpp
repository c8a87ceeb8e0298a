#include "runtime/charset.h"

#include <cstdlib>
#include <cstring>

namespace {

bool InRange(unsigned char byte, unsigned char low, unsigned char high) {
    return byte >= low && byte <= high;
}

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The well-formed sequence at text[index], or length 0 when there is none.
Utf8Step DecodeStrict(std::string_view text, size_t index) {
    const auto byte = [&](size_t offset) -> unsigned char {
        return index + offset < text.size() ? static_cast<unsigned char>(text[index + offset]) : 0;
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return {Utf8Outcome::Character, lead, 1};
    if (InRange(lead, 0xC2, 0xDF)) {
        if (!InRange(byte(1), 0x80, 0xBF)) return {Utf8Outcome::Replaced, 0, 0};
        return {Utf8Outcome::Character, ((lead & 0x1Fu) << 6) | (byte(1) & 0x3Fu), 2};
    }
    if (InRange(lead, 0xE0, 0xEF)) {
        // E0 would be overlong below A0, ED a surrogate above 9F.
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        if (!InRange(byte(1), low, high) || !InRange(byte(2), 0x80, 0xBF)) {
            return {Utf8Outcome::Replaced, 0, 0};
        }
        return {Utf8Outcome::Character,
                ((lead & 0x0Fu) << 12) | ((byte(1) & 0x3Fu) << 6) | (byte(2) & 0x3Fu), 3};
    }
    if (InRange(lead, 0xF0, 0xF4)) {
        // F0 would be overlong below 90, F4 beyond U+10FFFF above 8F.
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        if (!InRange(byte(1), low, high) || !InRange(byte(2), 0x80, 0xBF) ||
            !InRange(byte(3), 0x80, 0xBF)) {
            return {Utf8Outcome::Replaced, 0, 0};
        }
        return {Utf8Outcome::Character,
                ((lead & 0x07u) << 18) | ((byte(1) & 0x3Fu) << 12) | ((byte(2) & 0x3Fu) << 6) |
                    (byte(3) & 0x3Fu),
                4};
    }
    return {Utf8Outcome::Replaced, 0, 0};
}

// The ReplaceOrDrop rule for bytes that start no well-formed sequence.
Utf8Step MalformedInFile(std::string_view text, size_t index) {
    const auto lead = static_cast<unsigned char>(text[index]);
    const size_t left = text.size() - index - 1;  // bytes after the lead
    size_t tail = 0;
    if ((lead & 0xE0) == 0xC0) {
        tail = 1;
    } else if ((lead & 0xF0) == 0xE0) {
        tail = 2;
    } else if ((lead & 0xF8) == 0xF0) {
        tail = 3;
    } else {
        return {Utf8Outcome::Dropped, 0, 1};  // a stray continuation byte, or 0xF8 to 0xFF
    }
    if (left < tail) return {Utf8Outcome::Dropped, 0, 1};
    if (tail == 1) {
        // C0 and C1 are overlong forms of ASCII (C0 80 would smuggle in a zero byte): with
        // their continuation byte they are one replaced character.
        return {Utf8Outcome::Replaced, 0,
                IsContinuation(static_cast<unsigned char>(text[index + 1])) ? 2u : 1u};
    }
    size_t run = 0;
    while (run < tail && IsContinuation(static_cast<unsigned char>(text[index + 1 + run])))
        ++run;
    return {Utf8Outcome::Replaced, 0, 1 + run};
}

}  // namespace

Utf8Step DecodeUtf8(std::string_view text, size_t index, Utf8Malformed rule) {
    const Utf8Step strict = DecodeStrict(text, index);
    if (strict.length != 0) return strict;
    if (rule == Utf8Malformed::ReplaceOrDrop) return MalformedInFile(text, index);
    return {Utf8Outcome::Replaced, 0, 1};
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

void Latin1ToUtf8(char* output, int64_t* outputCapacity, const char* input, int64_t* inputLength) {
    const auto* in = reinterpret_cast<const unsigned char*>(input);
    auto* out = reinterpret_cast<unsigned char*>(output);
    const int64_t capacity = *outputCapacity;
    const int64_t length = *inputLength;
    int64_t read = 0;
    int64_t written = 0;
    while (read < length) {
        const unsigned char byte = in[read];
        if (byte < 0x80) {
            if (written + 1 > capacity) break;
            out[written++] = byte;
        } else {
            if (written + 2 > capacity) break;
            out[written++] = static_cast<unsigned char>(0xC0 | (byte >> 6));
            out[written++] = static_cast<unsigned char>(0x80 | (byte & 0x3F));
        }
        ++read;
    }
    *outputCapacity = written;
    *inputLength = read;
}

void Utf8ToLatin1(char* output, int64_t* outputLength, const char* input, int64_t inputLength) {
    const std::string_view text(input, static_cast<size_t>(inputLength));
    int64_t written = 0;
    for (size_t index = 0; index < text.size();) {
        const Utf8Step step = DecodeUtf8(text, index, Utf8Malformed::ReplaceOrDrop);
        index += step.length;
        if (step.outcome == Utf8Outcome::Dropped) continue;
        const bool latin1 = step.outcome == Utf8Outcome::Character && step.codePoint <= 0xFF;
        output[written++] = latin1 ? static_cast<char>(step.codePoint) : '?';
    }
    *outputLength = written;
}

char* TextToUtf8Copy(const char* text) {
    if (text == nullptr) text = "";
    int64_t length = static_cast<int64_t>(std::strlen(text));
    int64_t capacity = 4 * length + 1;
    auto* copy = static_cast<char*>(std::malloc(static_cast<size_t>(capacity)));
    if (copy == nullptr) return nullptr;
    Latin1ToUtf8(copy, &capacity, text, &length);
    copy[capacity] = '\0';
    return copy;
}
