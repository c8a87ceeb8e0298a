// The writing half of the preference file: creating a file, writing keys (in memory), and
// saving the whole text at close. The reading half is preference_read.cpp.
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/atomic_file.h"
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

// The last entry of the section that starts after header (the top section when header is
// null): the header itself for an empty group, and null for an empty top section, meaning the
// very start of the list.
PreferenceEntry* SectionEnd(const PreferenceEntryList& list, PreferenceEntry* header) {
    PreferenceEntry* end = header;
    PreferenceEntry* entry = header != nullptr ? header->next : list.first;
    for (; entry != nullptr && entry->kind != PreferenceEntryKind::Group; entry = entry->next)
        end = entry;
    return end;
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
    PreferenceEntryInsertAfter(state.entries, SectionEnd(state.entries, state.currentGroup), entry);
    return true;
}

// Measures the saved text on a first pass (no output) and writes it on the second, so both
// passes run the same code and agree on the length.
class TextSink {
  public:
    explicit TextSink(char* output) : output_(output) {}

    void Add(const char* text) { AddBytes(text, std::strlen(text)); }

    void AddBytes(const char* bytes, size_t count) {
        if (count > SIZE_MAX - 1 - length_) {
            overflowed_ = true;
            return;
        }
        if (output_ != nullptr) std::memcpy(output_ + length_, bytes, count);
        length_ += count;
    }

    size_t Length() const { return length_; }
    bool Overflowed() const { return overflowed_; }

  private:
    char* output_;
    size_t length_ = 0;
    bool overflowed_ = false;
};

// The saved text: the mark and an empty line for a UTF-8 file, then one line per entry, each
// ended by a single line feed.
void RenderInto(const PreferenceState& state, TextSink& sink) {
    const char* separator = (state.flags & kPreferenceCompactSeparator) != 0 ? "=" : " = ";
    if (state.encoding == kPreferenceUtf8Encoding) sink.Add("\xEF\xBB\xBF\n");
    bool firstGroup = true;
    for (const PreferenceEntry* entry = state.entries.first; entry != nullptr;
         entry = entry->next) {
        switch (entry->kind) {
            case PreferenceEntryKind::Group:
                if ((state.flags & kPreferenceSpaceGroups) != 0 && !firstGroup) sink.Add("\n");
                firstGroup = false;
                sink.Add("[");
                sink.Add(entry->value);
                sink.Add("]");
                break;
            case PreferenceEntryKind::Comment:
                sink.Add("; ");
                sink.Add(entry->value);
                break;
            case PreferenceEntryKind::Key:
                sink.Add(entry->key);
                sink.Add(separator);
                sink.Add(entry->value);
                break;
        }
        sink.Add("\n");
    }
}

}  // namespace

char* PreferenceRender(const PreferenceState& state, size_t* length) {
    TextSink measure(nullptr);
    RenderInto(state, measure);
    if (measure.Overflowed()) return nullptr;
    auto* text = static_cast<char*>(std::malloc(measure.Length() + 1));
    if (text == nullptr) return nullptr;
    TextSink writer(text);
    RenderInto(state, writer);
    text[writer.Length()] = '\0';
    *length = writer.Length();
    return text;
}

int64_t PreferenceCreate(const char* fileName) {
    return PreferenceCreateWithFlags(fileName, 0);
}

int64_t PreferenceCreateWithFlags(const char* fileName, int32_t flags) {
    PreferenceClose();
    char* path = PreferencePathOfName(fileName);
    if (path == nullptr) return 0;
    // The file itself is written at close, through a temporary file, so that an existing file
    // survives until the new one is complete. Here it is only checked that this will work, and
    // that the file is not one whose settings could not be read.
    if (PreferenceIsUnreadableFile(path) || !FileCouldBeReplaced(path)) {
        std::free(path);
        return 0;
    }
    PreferenceState& state = Preferences();
    state.active = true;
    state.path = path;
    state.created = true;
    state.flags = flags;
    return 1;
}

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

void PreferenceClose() {
    PreferenceState& state = Preferences();
    const bool save = state.active && !state.readOnly && state.path != nullptr &&
                      (state.modified || state.created);
    if (save) {
        size_t length = 0;
        char* text = PreferenceRender(state, &length);
        // A failed save is not reported; the old file is still there, unchanged.
        if (text != nullptr) ReplaceFileContents(state.path, text, length);
        std::free(text);
    }
    PreferenceStateDiscard();
}
