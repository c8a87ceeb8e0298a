#include "runtime/text_ops.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "runtime/temp_buffer.h"

namespace {

// Letter case is folded for ASCII only, so searches do not depend on the process locale.
char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(const char* a, const char* b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

char* EmptyResult(int64_t start) {
    TempEmptyAt(start);
    return TempAt(start);
}

// Writes length bytes from source + offset to start and adds a zero. The source may lie inside
// the buffer: its handle is taken before the reservation and the pointer re-derived after it.
// Copies use memmove, so a result may overlap its own source.
char* CopyResult(const char* source, int64_t offset, int64_t length, int64_t start) {
    if (source == nullptr || length <= 0) return EmptyResult(start);
    const int64_t handle = TempOffsetOf(source);
    char* destination = TempReserve(length, start);
    if (destination == nullptr) return EmptyResult(start);
    const char* from = handle != 0 ? TempPointer(handle) : source;
    std::memmove(destination, from + offset, static_cast<size_t>(length));
    destination[length] = '\0';
    return destination;
}

int64_t Length(const char* text) {
    return text == nullptr ? 0 : std::strlen(text);
}

// Offset of the first occurrence of separator in text at or after from, or -1.
int64_t FindSeparator(const char* text, int64_t from, const char* separator, size_t length) {
    const char* found =
        length == 1 ? std::strchr(text + from, separator[0]) : std::strstr(text + from, separator);
    return found == nullptr ? -1 : found - text;
}

}  // namespace

int32_t TextLength(const char* text) {
    const int64_t length = Length(text);
    constexpr int64_t kLargest = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(length < kLargest ? length : kLargest);
}

int32_t TextCompare(const char* a, const char* b) {
    return std::strcmp(a == nullptr ? "" : a, b == nullptr ? "" : b) == 0 ? 1 : 0;
}

int32_t TextFind(const char* text, const char* needle) {
    return TextSearch(text, needle, 1, 0);
}

int32_t TextFindFrom(const char* text, const char* needle, int32_t start) {
    return TextSearch(text, needle, start, 0);
}

int32_t TextSearch(const char* text, const char* needle, int32_t start, int32_t mode) {
    if (text == nullptr || needle == nullptr || text[0] == '\0' || needle[0] == '\0') return 0;
    const int64_t length = Length(text);
    if (start > length) return 0;
    const int64_t begin = start <= 0 ? 0 : start - 1;

    if ((mode & kTextIgnoreCase) == 0) {
        const char* found = std::strstr(text + begin, needle);
        return found == nullptr ? 0 : static_cast<int32_t>(found - text + 1);
    }
    const size_t needleLength = std::strlen(needle);
    const char first = LowerAscii(needle[0]);
    for (int64_t i = begin; i + static_cast<int64_t>(needleLength) <= length; ++i) {
        if (LowerAscii(text[i]) == first &&
            EqualIgnoringCase(text + i + 1, needle + 1, needleLength - 1)) {
            return static_cast<int32_t>(i + 1);
        }
    }
    return 0;
}

char* TextLeft(const char* text, int32_t count, int64_t start) {
    const int64_t length = Length(text);
    int64_t n = count < 0 ? 0 : count;
    if (n > length) n = length;
    return CopyResult(text, 0, n, start);
}

char* TextMid(const char* text, int32_t first, int32_t count, int64_t start) {
    if (text == nullptr || count <= 0) return EmptyResult(start);
    const int64_t length = Length(text);
    const int64_t offset = first > 1 ? first - 1 : 0;
    // Starting on or past the terminating zero gives the empty text.
    if (offset >= length) return EmptyResult(start);
    const int64_t available = length - offset;
    return CopyResult(text, offset, count < available ? count : available, start);
}

char* TextMidToEnd(const char* text, int32_t first, int64_t start) {
    if (text == nullptr) return EmptyResult(start);
    const int64_t offset = first > 1 ? first - 1 : 0;
    const int64_t length = Length(text);
    return CopyResult(text, offset, length - offset, start);
}

char* TextField(const char* text, int32_t index, const char* separator, int64_t start) {
    if (index < 1 || text == nullptr) return EmptyResult(start);
    const size_t separatorLength = separator == nullptr ? 0 : std::strlen(separator);
    if (separatorLength == 0)
        return index == 1 ? CopyResult(text, 0, Length(text), start) : EmptyResult(start);

    // Walk past index - 1 separators; occurrences never overlap and the leftmost one wins.
    int64_t fieldStart = 0;
    for (int32_t field = 1; field < index; ++field) {
        const int64_t found = FindSeparator(text, fieldStart, separator, separatorLength);
        if (found < 0) return EmptyResult(start);
        fieldStart = found + static_cast<int64_t>(separatorLength);
    }
    const int64_t fieldEnd = FindSeparator(text, fieldStart, separator, separatorLength);
    const int64_t end = fieldEnd < 0 ? Length(text) : fieldEnd;
    return CopyResult(text, fieldStart, end - fieldStart, start);
}

char* TextFromMemory(const void* address, int64_t length, int64_t start) {
    const auto* bytes = static_cast<const char*>(address);
    if (bytes == nullptr) return EmptyResult(start);
    if (length == -1) return CopyResult(bytes, 0, Length(bytes), start);
    if (length <= 0) return EmptyResult(start);
    // The copy stops at the first zero byte: received data may carry one.
    const size_t count = strnlen(bytes, static_cast<size_t>(length));
    return CopyResult(bytes, 0, static_cast<int64_t>(count), start);
}
