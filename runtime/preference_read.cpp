// The reading half of the preference file: opening a file (or bytes) and parsing it into
// entries, selecting a group, and reading keys. The writing half is preference_write.cpp.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

#include "runtime/charset.h"
#include "runtime/number_text.h"
#include "runtime/preference_file.h"
#include "runtime/preference_state.h"
#include "runtime/temp_buffer.h"

namespace {

// Files are read whole with a 32-bit size; anything larger is no settings file.
constexpr off_t kLargestFile = std::numeric_limits<int32_t>::max();

PreferenceState preferences;

// The file the last open found but could not read whole, by device and inode, so that it is
// recognised under any name that leads to it.
struct FileIdentity {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
};
FileIdentity unreadableFile;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// ASCII folding only, as strcasecmp in the "C" locale: matching never depends on the locale.
unsigned char FoldAscii(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

bool NamesEqual(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (FoldAscii(*a) != FoldAscii(*b)) return false;
        if (*a == '\0') return true;
    }
}

PreferenceEntry* FindGroup(const PreferenceEntryList& list, const char* name) {
    for (PreferenceEntry* entry = list.first; entry != nullptr; entry = entry->next) {
        if (entry->kind == PreferenceEntryKind::Group && NamesEqual(entry->value, name))
            return entry;
    }
    return nullptr;
}

void FreeEntries(PreferenceEntryList& list) {
    PreferenceEntry* entry = list.first;
    while (entry != nullptr) {
        PreferenceEntry* next = entry->next;
        if (entry->ownsKey) std::free(entry->key);
        if (entry->ownsValue) std::free(entry->value);
        delete entry;
        entry = next;
    }
    list = PreferenceEntryList{};
}

// --- Parsing. Entry texts point into the content block: each line is cut in place by writing
// zeros over its line end, over the "]" of a group header and after the last non-blank
// character of a key.

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

// Splits text[0, end) (followed by two zero bytes) into entries. False when memory runs out.
bool ParseContent(char* text, size_t end, PreferenceEntryList& entries) {
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
        PreferenceEntryInsertAfter(entries, entries.last, entry);
        // At the end of the content this is the first of the two zero bytes after it.
        text[lineEnd] = '\0';
        at = lineEnd + 1;
    }
    return true;
}

// Takes over block, which holds a file's length bytes and room for two more, as the content:
// a leading UTF-8 mark sets the encoding and is dropped, and the rest is parsed. False when
// memory runs out.
bool AdoptContent(PreferenceState& state, char* block, size_t length) {
    state.content = block;
    if (length >= 3 && std::memcmp(block, "\xEF\xBB\xBF", 3) == 0) {
        state.encoding = kPreferenceUtf8Encoding;
        length -= 3;
        std::memmove(block, block + 3, length);
    }
    block[length] = '\0';
    block[length + 1] = '\0';
    return ParseContent(block, length, state.entries);
}

// --- Opening a file.

// name made absolute against the current directory. Takes over name; null when memory runs
// out.
char* AbsolutePath(char* name) {
    if (name[0] == '/' || name[0] == '\0') return name;
    char* directory = getcwd(nullptr, 0);
    if (directory == nullptr) return name;  // the name stays relative to the current directory
    const size_t directoryLength = std::strlen(directory);
    const size_t nameLength = std::strlen(name);
    auto* path = static_cast<char*>(std::malloc(directoryLength + nameLength + 2));
    if (path != nullptr) {
        std::memcpy(path, directory, directoryLength);
        path[directoryLength] = '/';
        std::memcpy(path + directoryLength + 1, name, nameLength + 1);
    }
    std::free(directory);
    std::free(name);
    return path;
}

// Opens the settings file for update or, failing that, for reading only. Only a regular file
// counts: a directory, FIFO or device is treated as a file that cannot be opened (and
// O_NONBLOCK keeps a FIFO from stopping the program).
int OpenSettingsFile(const char* path, bool* readOnly) {
    constexpr int kCommon = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    *readOnly = false;
    int descriptor = open(path, O_RDWR | kCommon);
    if (descriptor < 0) {
        descriptor = open(path, O_RDONLY | kCommon);
        *readOnly = true;
    }
    struct stat status {};
    if (descriptor >= 0 && (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))) {
        close(descriptor);
        descriptor = -1;
    }
    return descriptor;
}

// Reads the whole file and parses it. False when the file is too large, cannot be read, or
// memory runs out.
bool ReadContent(int descriptor, const struct stat& status, PreferenceState& state) {
    if (status.st_size < 0 || status.st_size > kLargestFile) return false;
    const auto size = static_cast<size_t>(status.st_size);
    auto* block = static_cast<char*>(std::malloc(size + 2));
    if (block == nullptr) return false;
    // The file may have shrunk since fstat: the content is what could be read.
    size_t length = 0;
    while (length < size) {
        const ssize_t got = read(descriptor, block + length, size - length);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            std::free(block);
            return false;
        }
        if (got == 0) break;
        length += static_cast<size_t>(got);
    }
    return AdoptContent(state, block, length);
}

// --- Reading keys.

// The key entry named key in the selected group, or null: also while the selected group is
// pending, when nothing is open, and when the key cannot be converted.
PreferenceEntry* FindSelectedKey(const char* key) {
    if (!preferences.active || preferences.pendingGroup != nullptr) return nullptr;
    char* copy = nullptr;
    const char* converted = PreferenceToFileEncoding(key, &copy);
    if (converted == nullptr) return nullptr;
    PreferenceEntry* entry =
        PreferenceFindKey(preferences.entries, preferences.currentGroup, converted);
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
// Like glibc it reads a long (saturating) and keeps the low 32 bits.
int32_t ReadDecimal(const char* text) {
    const LeadingInteger read =
        ReadLeadingInteger(text, LeadingBlanks::AnyWhitespace, LeadingSign::Allowed);
    const int64_t value = ClampLeadingInteger(read, std::numeric_limits<int64_t>::min(),
                                              std::numeric_limits<int64_t>::max());
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

}  // namespace

PreferenceState& Preferences() {
    return preferences;
}

void PreferenceStateDiscard() {
    FreeEntries(preferences.entries);
    std::free(preferences.content);
    std::free(preferences.path);
    std::free(preferences.pendingGroup);
    preferences = PreferenceState{};
}

char* PreferencePathOfName(const char* fileName) {
    char* name = TextToUtf8Copy(fileName);
    return name != nullptr ? AbsolutePath(name) : nullptr;
}

bool PreferenceIsUnreadableFile(const char* path) {
    struct stat status {};
    return unreadableFile.known && stat(path, &status) == 0 &&
           status.st_dev == unreadableFile.device && status.st_ino == unreadableFile.inode;
}

const char* PreferenceToFileEncoding(const char* text, char** copy) {
    *copy = nullptr;
    if (text == nullptr) text = "";
    if (preferences.encoding != kPreferenceUtf8Encoding) return text;
    *copy = TextToUtf8Copy(text);
    return *copy;
}

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

PreferenceEntry* PreferenceFindKey(const PreferenceEntryList& list, const PreferenceEntry* header,
                                   const char* key) {
    PreferenceEntry* entry = header != nullptr ? header->next : list.first;
    for (; entry != nullptr && entry->kind != PreferenceEntryKind::Group; entry = entry->next) {
        if (entry->kind == PreferenceEntryKind::Key && NamesEqual(entry->key, key)) return entry;
    }
    return nullptr;
}

void PreferenceLibraryInit() {
    PreferenceStateDiscard();
    unreadableFile = FileIdentity{};
}

void PreferenceLibraryEnd() {
    PreferenceClose();
}

int64_t PreferenceOpen(const char* fileName) {
    return PreferenceOpenWithFlags(fileName, 0);
}

int64_t PreferenceOpenWithFlags(const char* fileName, int32_t flags) {
    PreferenceClose();
    char* path = PreferencePathOfName(fileName);
    if (path == nullptr) return 0;
    preferences.active = true;
    preferences.path = path;
    bool readOnly = false;
    const int descriptor = OpenSettingsFile(path, &readOnly);
    // Kept in memory; PreferenceClose creates the file if anything is written.
    if (descriptor < 0) return 0;
    struct stat status {};
    const bool read =
        fstat(descriptor, &status) == 0 && ReadContent(descriptor, status, preferences);
    close(descriptor);
    if (!read) {
        // The file exists but its settings are unknown: it is never replaced, neither by this
        // state (reads give their defaults and writes are dropped, as for a read-only file)
        // nor by a PreferenceCreate that follows.
        PreferenceStateDiscard();
        preferences.active = true;
        preferences.readOnly = true;
        unreadableFile = FileIdentity{true, status.st_dev, status.st_ino};
        return 0;
    }
    preferences.readOnly = readOnly;
    preferences.flags = flags;
    return 1;
}

int64_t PreferenceOpenBytes(const char* bytes, size_t length, int32_t flags) {
    PreferenceClose();
    auto* block = static_cast<char*>(std::malloc(length + 2));
    if (block == nullptr) return 0;
    if (length != 0) std::memcpy(block, bytes, length);
    preferences.active = true;
    if (!AdoptContent(preferences, block, length)) {
        PreferenceStateDiscard();
        return 0;
    }
    preferences.flags = flags;
    return 1;
}

int32_t PreferenceGroup(const char* groupName) {
    if (!preferences.active) return 0;
    if (groupName == nullptr || groupName[0] == '\0') {
        preferences.currentGroup = nullptr;
        std::free(preferences.pendingGroup);
        preferences.pendingGroup = nullptr;
        return 1;
    }
    char* copy = nullptr;
    const char* name = PreferenceToFileEncoding(groupName, &copy);
    if (name == nullptr) return 0;
    PreferenceEntry* header = FindGroup(preferences.entries, name);
    if (header != nullptr) {
        preferences.currentGroup = header;
        std::free(preferences.pendingGroup);
        preferences.pendingGroup = nullptr;
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
    std::free(preferences.pendingGroup);
    preferences.pendingGroup = copy;
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
    if (preferences.encoding == kPreferenceUtf8Encoding) {
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
