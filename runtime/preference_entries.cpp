#include "runtime/preference_entries.h"

#include <cstdlib>
#include <new>

namespace {

// ASCII folding only, as strcasecmp in the "C" locale: matching never depends on the locale.
unsigned char FoldAscii(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

}  // namespace

PreferenceEntry* PreferenceEntryNew(PreferenceEntryKind kind, char* key, char* value) {
    auto* entry = new (std::nothrow) PreferenceEntry;
    if (entry == nullptr) return nullptr;
    entry->kind = kind;
    entry->key = key;
    entry->value = value;
    return entry;
}

void PreferenceEntryInsertAfter(PreferenceEntryList& list, PreferenceEntry* anchor,
                                PreferenceEntry* entry) {
    PreferenceEntry* following = anchor != nullptr ? anchor->next : list.first;
    entry->previous = anchor;
    entry->next = following;
    if (anchor != nullptr) {
        anchor->next = entry;
    } else {
        list.first = entry;
    }
    if (following != nullptr) {
        following->previous = entry;
    } else {
        list.last = entry;
    }
}

void PreferenceEntriesFree(PreferenceEntryList& list) {
    PreferenceEntry* entry = list.first;
    while (entry != nullptr) {
        PreferenceEntry* next = entry->next;
        if (entry->ownsKey) std::free(entry->key);
        if (entry->ownsValue) std::free(entry->value);
        delete entry;
        entry = next;
    }
    list.first = nullptr;
    list.last = nullptr;
}

bool PreferenceNamesEqual(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (FoldAscii(*a) != FoldAscii(*b)) return false;
        if (*a == '\0') return true;
    }
}

PreferenceEntry* PreferenceFindGroup(const PreferenceEntryList& list, const char* name) {
    for (PreferenceEntry* entry = list.first; entry != nullptr; entry = entry->next) {
        if (entry->kind == PreferenceEntryKind::Group && PreferenceNamesEqual(entry->value, name))
            return entry;
    }
    return nullptr;
}

PreferenceEntry* PreferenceFindKey(const PreferenceEntryList& list, const PreferenceEntry* header,
                                   const char* key) {
    PreferenceEntry* entry = header != nullptr ? header->next : list.first;
    for (; entry != nullptr && entry->kind != PreferenceEntryKind::Group; entry = entry->next) {
        if (entry->kind == PreferenceEntryKind::Key && PreferenceNamesEqual(entry->key, key))
            return entry;
    }
    return nullptr;
}

PreferenceEntry* PreferenceSectionEnd(const PreferenceEntryList& list, PreferenceEntry* header) {
    PreferenceEntry* end = header;
    PreferenceEntry* entry = header != nullptr ? header->next : list.first;
    for (; entry != nullptr && entry->kind != PreferenceEntryKind::Group; entry = entry->next)
        end = entry;
    return end;
}
