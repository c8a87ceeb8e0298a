// Writing keys of the preference file (in memory; PreferenceClose saves the file).
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/charset.h"
#include "runtime/preference_file.h"
#include "runtime/preference_state.h"

namespace {

char* CopyText(const char* text) {
    const size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy != nullptr) std::memcpy(copy, text, length + 1);
    return copy;
}

// value as a heap block in the file's encoding, sized for the converted length.
char* ValueInFileEncoding(const char* value) {
    if (value == nullptr) value = "";
    return Preferences().encoding == kPreferenceUtf8Encoding ? TextToUtf8Copy(value)
                                                             : CopyText(value);
}

// Adds the pending group at the end of the file and selects it. False when memory runs out.
bool CreatePendingGroup(PreferenceState& state) {
    PreferenceEntry* header =
        PreferenceEntryNew(PreferenceEntryKind::Group, nullptr, state.pendingGroup);
    if (header == nullptr) return false;
    header->ownsValue = true;
    PreferenceEntryInsertAfter(state.entries, state.entries.last, header);
    state.currentGroup = header;
    state.pendingGroup = nullptr;
    return true;
}

// Sets key (in the file's encoding) to value (a heap block in the file's encoding, taken over).
bool StoreKey(PreferenceState& state, const char* key, char* value) {
    if (state.pendingGroup != nullptr && !CreatePendingGroup(state)) return false;
    PreferenceEntry* entry = PreferenceFindKey(state.entries, state.currentGroup, key);
    if (entry != nullptr) {
        // The names match ignoring ASCII case, so they have the same length: the stored key
        // takes the caller's spelling in place.
        std::memcpy(entry->key, key, std::strlen(key));
        if (entry->ownsValue) std::free(entry->value);
        entry->value = value;
        entry->ownsValue = true;
        return true;
    }
    char* keyCopy = CopyText(key);
    entry =
        keyCopy != nullptr ? PreferenceEntryNew(PreferenceEntryKind::Key, keyCopy, value) : nullptr;
    if (entry == nullptr) {
        std::free(keyCopy);
        return false;
    }
    entry->ownsKey = true;
    entry->ownsValue = true;
    // After the last line of the selected section (the very start for an empty top section).
    PreferenceEntryInsertAfter(state.entries,
                               PreferenceSectionEnd(state.entries, state.currentGroup), entry);
    return true;
}

}  // namespace

void PreferenceWriteText(const char* key, const char* text) {
    PreferenceState& state = Preferences();
    if (!state.active) return;
    char* keyCopy = nullptr;
    const char* fileKey = PreferenceToFileEncoding(key, &keyCopy);
    char* value = fileKey != nullptr ? ValueInFileEncoding(text) : nullptr;
    if (value != nullptr && StoreKey(state, fileKey, value)) {
        state.modified = true;
    } else {
        std::free(value);
    }
    std::free(keyCopy);
}

void PreferenceWriteInteger(const char* key, int32_t value) {
    char text[16];
    const auto result = std::to_chars(text, text + sizeof text - 1, value);
    *result.ptr = '\0';
    PreferenceWriteText(key, text);
}
