// The preference file: a small text file of groups and key = value lines that keeps settings
// from one run to the next.
//
//   ; a comment
//   [Server]
//   Server = 127.0.0.1
//   Port = 10000
//
// The whole file is read into memory when it is opened; reads and writes work on that copy and
// the file is saved in full when it is closed after at least one write. Group names and keys
// match in any ASCII letter case. A file that starts with the UTF-8 mark EF BB BF holds UTF-8
// text; the operations still take and give ISO Latin-1 texts and convert at their border.
//
// There is one preference state per process, without a lock: use it from one thread only.
//
// Saving never rewrites the file in place. The new text goes to a temporary file beside the
// settings file, is flushed to the disk and then renamed over it, so a failed save (full disk,
// lost permission) leaves the old file exactly as it was. A settings file that is a symbolic
// link stays a link; the file it leads to is replaced, keeping its permission bits.
#pragma once

#include <cstddef>
#include <cstdint>

// Flag bits of PreferenceOpenWithFlags and PreferenceCreateWithFlags.
// Key lines are written as key "=" value instead of key " = " value.
constexpr int32_t kPreferenceCompactSeparator = 1;
// An empty line is written before every group header except the first.
constexpr int32_t kPreferenceSpaceGroups = 2;

// Clears the preference state (an open file is dropped without saving). Called once at start.
void PreferenceLibraryInit();
// Closes a file that is still open, as PreferenceClose does. Called once at shutdown.
void PreferenceLibraryEnd();

// Opens an existing file (closing any open one first) and reads it whole. Non-zero when it was
// opened, for update or read-only (then writes are dropped at close). 0 when it cannot be
// opened: reads then give their defaults, writes are kept in memory, and PreferenceClose
// creates the file if anything was written. 0 is also the answer for a file that exists but
// cannot be read whole (larger than 2^31 - 1 bytes, or a read error); such a file is never
// replaced, neither at close nor by a PreferenceCreate that follows.
int64_t PreferenceOpen(const char* fileName);
int64_t PreferenceOpenWithFlags(const char* fileName, int32_t flags);
// Opens length bytes as the whole content of a settings file, read exactly as PreferenceOpen
// reads a file; the state belongs to no file, so PreferenceClose saves nothing. Non-zero, or
// 0 when memory runs out.
int64_t PreferenceOpenBytes(const char* bytes, size_t length, int32_t flags);

// Starts a new, empty file (closing any open one first). Non-zero when the file can be made
// there; 0 otherwise, and nothing stays open. The file on disk is written by PreferenceClose,
// in full, even when nothing was written (it is then empty).
int64_t PreferenceCreate(const char* fileName);
int64_t PreferenceCreateWithFlags(const char* fileName, int32_t flags);

// Selects the group for later reads and writes; null or the empty name selects the lines before
// the first group header. 1 when the group exists (or the name is empty), else 0: the group is
// then pending, reads give their defaults, and the first write adds it at the end of the file.
int32_t PreferenceGroup(const char* groupName);

// The value of key in the selected group without its surrounding blanks, or defaultText (null
// reads as empty) when there is none, written at start in the temporary buffer.
char* PreferenceReadText(const char* key, const char* defaultText, int64_t start);
// The leading decimal integer of the value of key (read as the C library's atoi reads it, 0
// when there are no digits), or defaultValue when there is no such key.
int64_t PreferenceReadInteger(const char* key, int32_t defaultValue);

// Sets key in the selected group to text (null reads as empty): an existing key, found in any
// letter case, takes the new value and the caller's spelling; a new one goes after the last
// line of the group.
void PreferenceWriteText(const char* key, const char* text);
// PreferenceWriteText with the decimal text of value.
void PreferenceWriteInteger(const char* key, int32_t value);

// Saves the file if anything was written (or it was made by PreferenceCreate) and clears the
// preference state. A file without writes is left untouched. Save failures are not reported.
void PreferenceClose();
