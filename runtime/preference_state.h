// The process-wide preference state that runtime/preference_read.cpp (open, parse, read) and
// runtime/preference_write.cpp (create, write, save) share. Not for callers of the preference
// file.
#pragma once

#include <cstddef>
#include <cstdint>

// Encoding number of a file that starts with the UTF-8 mark.
constexpr int32_t kPreferenceUtf8Encoding = 65001;

enum class PreferenceEntryKind : uint8_t { Group, Comment, Key };

// One line of the file. Its texts either point into the content block read from the file or
// are heap blocks of its own, as ownsKey and ownsValue tell.
struct PreferenceEntry {
    PreferenceEntryKind kind = PreferenceEntryKind::Key;
    char* key = nullptr;    // key lines only
    char* value = nullptr;  // group name, comment text or the key's value
    bool ownsKey = false;
    bool ownsValue = false;
    PreferenceEntry* previous = nullptr;
    PreferenceEntry* next = nullptr;
};

// The lines in file order, as a doubly linked list.
struct PreferenceEntryList {
    PreferenceEntry* first = nullptr;
    PreferenceEntry* last = nullptr;
};

struct PreferenceState {
    bool active = false;      // a file is open, or its name is kept to create it at close
    char* path = nullptr;     // absolute UTF-8 name to save to; null: never saved
    bool created = false;     // made by PreferenceCreate: saved at close even without writes
    bool modified = false;    // a key was written
    bool readOnly = false;    // writes are kept in memory and dropped at close
    char* content = nullptr;  // the file's text after the mark, then two zero bytes
    int32_t encoding = 0;     // kPreferenceUtf8Encoding or 0 (ISO Latin-1)
    int32_t flags = 0;        // kPreferenceCompactSeparator, kPreferenceSpaceGroups
    PreferenceEntryList entries;
    PreferenceEntry* currentGroup = nullptr;  // null selects the top section
    char* pendingGroup = nullptr;  // selected group name that does not exist yet (file encoding)
};

// The one preference state of the process.
PreferenceState& Preferences();
// Frees everything the state holds and clears it, without saving.
void PreferenceStateDiscard();

// The file's name in UTF-8 made absolute against the current directory, so that the file
// saved at close is the one that was opened even if the directory changes in between. A heap
// text, or null when memory runs out.
char* PreferencePathOfName(const char* fileName);

// Whether path names the file that the last PreferenceOpen found but could not read whole.
// PreferenceCreate never replaces that file: its settings are unknown, not absent.
bool PreferenceIsUnreadableFile(const char* path);

// text in the file's encoding: text itself for a Latin-1 file (*copy stays null), a UTF-8 heap
// copy in *copy for a UTF-8 file. Null when memory runs out. A null text reads as empty.
const char* PreferenceToFileEncoding(const char* text, char** copy);

// A new entry that is in no list yet, or null when memory runs out.
PreferenceEntry* PreferenceEntryNew(PreferenceEntryKind kind, char* key, char* value);
// Links entry in after anchor; a null anchor puts it at the very start.
void PreferenceEntryInsertAfter(PreferenceEntryList& list, PreferenceEntry* anchor,
                                PreferenceEntry* entry);
// The first key line named key (in any ASCII case) in the section that starts after header
// (the top section when header is null), up to the next group header; null when there is none.
PreferenceEntry* PreferenceFindKey(const PreferenceEntryList& list, const PreferenceEntry* header,
                                   const char* key);

// The file's full text as PreferenceClose saves it, as a heap block (free with std::free) of
// *length bytes plus a zero. Null when memory runs out.
char* PreferenceRender(const PreferenceState& state, size_t* length);
