// The process-wide preference state behind runtime/preference_file.h, shared by the files that
// implement it. Not for callers of the preference file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/preference_entries.h"

// Encoding number of a file that starts with the UTF-8 mark.
constexpr int32_t kPreferenceUtf8Encoding = 65001;

struct PreferenceState {
    bool active = false;      // a file is open, or its name is kept to create it at close
    char* path = nullptr;     // absolute UTF-8 name to save to; null: never saved
    bool pending = false;     // the file could not be opened: it is created at close if written
    bool created = false;     // made by PreferenceCreate: saved at close even without writes
    bool modified = false;    // a key was written
    bool readOnly = false;    // writes are kept in memory and dropped at close
    char* content = nullptr;  // the file's text after the mark, then two zero bytes
    size_t contentLength = 0;
    int32_t encoding = 0;  // kPreferenceUtf8Encoding or 0 (ISO Latin-1)
    int32_t flags = 0;     // kPreferenceCompactSeparator, kPreferenceSpaceGroups
    PreferenceEntryList entries;
    PreferenceEntry* currentGroup = nullptr;  // null selects the top section
    char* pendingGroup = nullptr;  // selected group name that does not exist yet (file encoding)
};

// The one preference state of the process.
PreferenceState& Preferences();
// Frees everything the state holds and clears it, without saving.
void PreferenceStateDiscard();

// text in the file's encoding: text itself for a Latin-1 file (*copy stays null), a UTF-8 heap
// copy in *copy for a UTF-8 file. Null when memory runs out. A null text reads as empty.
const char* PreferenceToFileEncoding(const char* text, char** copy);

// Splits the content block into entries. False when memory runs out.
bool PreferenceParseContent(PreferenceState& state);
// The file's full text as it is saved, as a heap block (free with std::free) of *length bytes
// plus a zero. Null when memory runs out.
char* PreferenceRender(const PreferenceState& state, size_t* length);

// Makes opening a file for update fail, as for a file that may only be read, so that tests can
// reach the read-only case even where the superuser can write to every file.
void PreferenceDenyUpdateForTesting(bool deny);
bool PreferenceUpdateDenied();
