#include "runtime/charset.h"

#include <cstdlib>
#include <cstring>

namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Continuation bytes (at most limit) that follow position i.
int64_t ContinuationRun(const unsigned char* in, int64_t i, int64_t length, int64_t limit) {
    int64_t run = 0;
    while (run < limit && i + 1 + run < length && IsContinuation(in[i + 1 + run]))
        ++run;
    return run;
}

}  // namespace

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
    const auto* in = reinterpret_cast<const unsigned char*>(input);
    auto* out = reinterpret_cast<unsigned char*>(output);
    int64_t written = 0;
    int64_t i = 0;
    while (i < inputLength) {
        const unsigned char byte = in[i];
        const int64_t left = inputLength - i - 1;  // bytes after this one
        if (byte < 0x80) {
            out[written++] = byte;
            i += 1;
        } else if ((byte & 0xE0) == 0xC0) {
            if (left < 1) {  // a lead byte cut off by the end gives nothing
                i += 1;
                continue;
            }
            if (!IsContinuation(in[i + 1])) {
                out[written++] = '?';
                i += 1;
                continue;
            }
            const unsigned value = ((byte & 0x1Fu) << 6) | (in[i + 1] & 0x3Fu);
            // C0 and C1 leads are overlong forms of ASCII (C0 80 would smuggle in a zero byte):
            // they are not well-formed and count as a character outside Latin-1.
            out[written++] =
                (value >= 0x80 && value < 0x100) ? static_cast<unsigned char>(value) : '?';
            i += 2;
        } else if ((byte & 0xF0) == 0xE0 || (byte & 0xF8) == 0xF0) {
            const int64_t tail = (byte & 0xF0) == 0xE0 ? 2 : 3;
            if (left < tail) {
                i += 1;
                continue;
            }
            out[written++] = '?';
            i += 1 + ContinuationRun(in, i, inputLength, tail);
        } else {
            // A stray continuation byte, or 0xF8 to 0xFF: dropped.
            i += 1;
        }
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
