// Text-keyed maps: elements of a fixed size found by a text key through chains of buckets. Keys
// are copied on insertion; a null key reads as the empty text. Maps have no lock.
#pragma once

#include <cstdint>

struct TextMap;

// Creation flag: keys are compared and hashed ignoring ASCII letter case.
constexpr uint32_t kMapIgnoreCase = 1;

// Registers the map operations with the runtime; called once at start-up.
void MapLibraryInit();

// A new empty map of elementSize-byte elements (at least 0) in bucketCount chains (at least 1),
// also stored in *place when place is not null; null when memory is short (*place is then left
// alone). textFieldLayout describes text fields inside elements; no map of this program has
// any, so it is accepted and not used.
TextMap* MapCreate(int64_t elementSize, const void* textFieldLayout, TextMap** place,
                   int64_t bucketCount, uint32_t flags = 0);
// Frees the map with its keys and elements; null is ignored.
void MapDestroy(TextMap* map);

// The element stored under key, or null.
void* MapFind(TextMap* map, const char* key);
// The element stored under key, or a new zero-filled one added for it; null when memory is
// short (the map is then unchanged).
void* MapFindOrAdd(TextMap* map, const char* key);
// Removes key and its element; false when the key was not there.
bool MapRemove(TextMap* map, const char* key);
// Number of keys in the map.
int64_t MapCount(const TextMap* map);

// The sdbm hash of key: each byte taken as a signed 8-bit value c, h = c + h*64 + h*65536 - h
// in unsigned 32-bit arithmetic; with ignoreCase the ASCII letters are lower-cased first.
uint32_t MapHashKey(const char* key, bool ignoreCase);
