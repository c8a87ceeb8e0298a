// The lines of a preference file as a doubly linked list of entries, in file order.
#pragma once

#include <cstdint>

enum class PreferenceEntryKind : uint8_t { Group, Comment, Key };

// An entry's texts either point into the content block read from the file or are heap blocks
// of its own, as ownsKey and ownsValue tell.
struct PreferenceEntry {
    PreferenceEntryKind kind = PreferenceEntryKind::Key;
    char* key = nullptr;    // key lines only
    char* value = nullptr;  // group name, comment text or the key's value
    bool ownsKey = false;
    bool ownsValue = false;
    PreferenceEntry* previous = nullptr;
    PreferenceEntry* next = nullptr;
};

struct PreferenceEntryList {
    PreferenceEntry* first = nullptr;
    PreferenceEntry* last = nullptr;
};

// A new entry that is in no list yet, or null when memory runs out.
PreferenceEntry* PreferenceEntryNew(PreferenceEntryKind kind, char* key, char* value);
// Links entry in after anchor; a null anchor puts it at the very start.
void PreferenceEntryInsertAfter(PreferenceEntryList& list, PreferenceEntry* anchor,
                                PreferenceEntry* entry);
// Frees every entry and the texts they own, and empties the list.
void PreferenceEntriesFree(PreferenceEntryList& list);

// Whether a and b are equal when ASCII letters are folded to one case.
bool PreferenceNamesEqual(const char* a, const char* b);
// The first group header named name in any case, or null.
PreferenceEntry* PreferenceFindGroup(const PreferenceEntryList& list, const char* name);
// The first key line named key in the section that starts after header (the top section when
// header is null), up to the next group header; null when there is none.
PreferenceEntry* PreferenceFindKey(const PreferenceEntryList& list, const PreferenceEntry* header,
                                   const char* key);
// The last entry of the section that starts after header (the top section when header is
// null): the header itself for an empty group, and null for an empty top section, meaning the
// very start of the list.
PreferenceEntry* PreferenceSectionEnd(const PreferenceEntryList& list, PreferenceEntry* header);
