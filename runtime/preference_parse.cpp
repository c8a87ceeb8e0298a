// Splits the text of a preference file into entries. Entry texts point into the content block:
// each line is cut in place by writing zeros over its line end, over the "]" of a group header
// and after the last non-blank character of a key.
#include <cstddef>

#include "runtime/preference_state.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// A zero byte ends a line too: no text can hold one, and it keeps every scan inside the line.
bool EndsLine(char c) {
    return c == '\0' || c == '\n' || c == '\r';
}

// Offset of the first c in text[from, to), or to.
size_t FindIn(const char* text, size_t from, size_t to, char c) {
    while (from < to && text[from] != c)
        ++from;
    return from;
}

PreferenceEntry* ParseComment(char* text, size_t first, size_t lineEnd) {
    size_t start = first + 1;  // after the ";"
    if (start < lineEnd && text[start] == ' ') ++start;
    return PreferenceEntryNew(PreferenceEntryKind::Comment, nullptr, text + start);
}

PreferenceEntry* ParseGroupHeader(char* text, size_t first, size_t lineEnd) {
    const size_t start = first + 1;  // after the "["
    // The name ends at the first "]"; whatever follows it on the line is dropped.
    const size_t close = FindIn(text, start, lineEnd, ']');
    text[close] = '\0';
    return PreferenceEntryNew(PreferenceEntryKind::Group, nullptr, text + start);
}

PreferenceEntry* ParseKeyLine(char* text, size_t first, size_t lineEnd) {
    const size_t equals = FindIn(text, first, lineEnd, '=');
    size_t keyEnd = equals;
    while (keyEnd > first && IsBlank(text[keyEnd - 1]))
        --keyEnd;
    // A line without "=" is a key with an empty value: the value is the zero at the line end,
    // so the next line always stays a line of its own.
    size_t valueStart = equals < lineEnd ? equals + 1 : lineEnd;
    while (valueStart < lineEnd && IsBlank(text[valueStart]))
        ++valueStart;
    text[keyEnd] = '\0';
    return PreferenceEntryNew(PreferenceEntryKind::Key, text + first, text + valueStart);
}

}  // namespace

bool PreferenceParseContent(PreferenceState& state) {
    char* text = state.content;
    const size_t end = state.contentLength;
    size_t at = 0;
    while (at < end) {
        while (at < end && IsBlank(text[at]))
            ++at;
        // Blanks after the last line end make no entry.
        if (at == end) break;
        // Any run of line ends (and the zeros of lines already cut) is skipped.
        if (EndsLine(text[at])) {
            ++at;
            continue;
        }
        size_t lineEnd = at;
        while (lineEnd < end && !EndsLine(text[lineEnd]))
            ++lineEnd;
        PreferenceEntry* entry = nullptr;
        if (text[at] == ';') {
            entry = ParseComment(text, at, lineEnd);
        } else if (text[at] == '[') {
            entry = ParseGroupHeader(text, at, lineEnd);
        } else {
            entry = ParseKeyLine(text, at, lineEnd);
        }
        if (entry == nullptr) return false;
        PreferenceEntryInsertAfter(state.entries, state.entries.last, entry);
        // At the end of the content this is the first of the two zero bytes after it.
        text[lineEnd] = '\0';
        at = lineEnd + 1;
    }
    return true;
}
