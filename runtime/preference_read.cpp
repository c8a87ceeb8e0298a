// Selecting a group and reading keys of the preference file.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/charset.h"
#include "runtime/preference_file.h"
#include "runtime/preference_state.h"
#include "runtime/temp_buffer.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The key entry named key in the selected group, or null: also while the selected group is
// pending, when nothing is open, and when the key cannot be converted.
PreferenceEntry* FindSelectedKey(const char* key) {
    PreferenceState& state = Preferences();
    if (!state.active || state.pendingGroup != nullptr) return nullptr;
    char* copy = nullptr;
    const char* converted = PreferenceToFileEncoding(key, &copy);
    if (converted == nullptr) return nullptr;
    PreferenceEntry* entry = PreferenceFindKey(state.entries, state.currentGroup, converted);
    std::free(copy);
    return entry;
}

char* EmptyAt(int64_t start) {
    TempEmptyAt(start);
    return TempAt(start);
}

// The default copied unchanged to start; it may itself lie in the temporary buffer, which the
// reservation can move.
char* CopyDefault(const char* text, int64_t start) {
    if (text == nullptr) return EmptyAt(start);
    const int64_t length = static_cast<int64_t>(std::strlen(text));
    const int64_t handle = TempOffsetOf(text);
    char* destination = TempReserve(length, start);
    if (destination == nullptr) return EmptyAt(start);
    const char* source = handle != 0 ? TempPointer(handle) : text;
    std::memmove(destination, source, static_cast<size_t>(length));
    destination[length] = '\0';
    return destination;
}

// The C library's atoi, without its locale: white space, one optional sign, decimal digits.
// Like glibc it reads a long (saturating) and keeps the low 32 bits; unsigned arithmetic keeps
// every step defined.
int32_t ReadDecimal(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    constexpr uint64_t kLimit = uint64_t{1} << 63;  // magnitude of the most negative long
    uint64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const uint64_t digit = static_cast<uint64_t>(*text - '0');
        magnitude = magnitude > (kLimit - digit) / 10 ? kLimit : magnitude * 10 + digit;
    }
    if (!negative && magnitude == kLimit) magnitude = kLimit - 1;
    const uint64_t value = negative ? 0 - magnitude : magnitude;
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

}  // namespace

int32_t PreferenceGroup(const char* groupName) {
    PreferenceState& state = Preferences();
    if (!state.active) return 0;
    if (groupName == nullptr || groupName[0] == '\0') {
        state.currentGroup = nullptr;
        std::free(state.pendingGroup);
        state.pendingGroup = nullptr;
        return 1;
    }
    char* copy = nullptr;
    const char* name = PreferenceToFileEncoding(groupName, &copy);
    if (name == nullptr) return 0;
    PreferenceEntry* header = PreferenceFindGroup(state.entries, name);
    if (header != nullptr) {
        state.currentGroup = header;
        std::free(state.pendingGroup);
        state.pendingGroup = nullptr;
        std::free(copy);
        return 1;
    }
    // Not there yet: the first write creates it.
    if (copy == nullptr) {
        const size_t length = std::strlen(name);
        copy = static_cast<char*>(std::malloc(length + 1));
        if (copy == nullptr) return 0;
        std::memcpy(copy, name, length + 1);
    }
    std::free(state.pendingGroup);
    state.pendingGroup = copy;
    return 0;
}

char* PreferenceReadText(const char* key, const char* defaultText, int64_t start) {
    const PreferenceEntry* entry = FindSelectedKey(key);
    if (entry == nullptr) return CopyDefault(defaultText, start);
    const char* value = entry->value;
    while (IsBlank(*value))
        ++value;
    const int64_t length = static_cast<int64_t>(std::strlen(value));
    char* result = TempReserve(length, start);
    if (result == nullptr) return EmptyAt(start);
    int64_t written = length;
    if (Preferences().encoding == kPreferenceUtf8Encoding) {
        // Latin-1 never needs more bytes than UTF-8, so the reservation is enough.
        Utf8ToLatin1(result, &written, value, length);
    } else {
        std::memcpy(result, value, static_cast<size_t>(length));
    }
    // Blanks are trimmed again after the conversion, which may have dropped malformed bytes
    // in front of them.
    int64_t lead = 0;
    while (lead < written && IsBlank(result[lead]))
        ++lead;
    while (written > lead && IsBlank(result[written - 1]))
        --written;
    written -= lead;
    std::memmove(result, result + lead, static_cast<size_t>(written));
    result[written] = '\0';
    TempSetPosition(start + written);
    return result;
}

int64_t PreferenceReadInteger(const char* key, int32_t defaultValue) {
    const PreferenceEntry* entry = FindSelectedKey(key);
    return entry != nullptr ? ReadDecimal(entry->value) : defaultValue;
}
