#include "runtime/text_map.h"

#include <cstring>

#include "runtime/block_pool.h"
#include "runtime/memory_block.h"

namespace {

// A bucket chain's node; the element follows it.
struct MapNode {
    MapNode* next;
    char* key;
};
static_assert(sizeof(MapNode) == 16);

constexpr int64_t kSmallestNodeChunk = 16;
constexpr int64_t kLargestNodeChunk = 65536;
// Nodes of one map are only used by its owner's thread.
constexpr uint32_t kNodePoolFlags = 0;

}  // namespace

struct TextMap {
    int64_t elementSize;
    int64_t bucketCount;
    int64_t count;
    uint32_t flags;
    MapNode** buckets;
    BlockPool* nodes;
};

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool KeysEqual(const char* a, const char* b, bool ignoreCase) {
    if (!ignoreCase) return std::strcmp(a, b) == 0;
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b)) return false;
    }
    return *a == *b;
}

bool IgnoresCase(const TextMap* map) {
    return (map->flags & kMapIgnoreCase) != 0;
}

MapNode** BucketOf(TextMap* map, const char* key) {
    const uint32_t hash = MapHashKey(key, IgnoresCase(map));
    return &map->buckets[hash % static_cast<uint64_t>(map->bucketCount)];
}

void* ElementOf(MapNode* node) {
    return reinterpret_cast<char*>(node) + sizeof(MapNode);
}

// The link that points at key's node (its bucket head or its predecessor's next), or null.
MapNode** LinkTo(TextMap* map, const char* key) {
    for (MapNode** link = BucketOf(map, key); *link != nullptr; link = &(*link)->next) {
        if (KeysEqual((*link)->key, key, IgnoresCase(map))) return link;
    }
    return nullptr;
}

char* CopyKey(const char* key) {
    const size_t length = std::strlen(key);
    auto* copy = static_cast<char*>(MemoryAllocate(static_cast<int64_t>(length) + 1));
    if (copy != nullptr) std::memcpy(copy, key, length);
    return copy;
}

}  // namespace

void MapLibraryInit() {
    // Map elements here are plain values: no record type copies or frees a map field, so there
    // is no copy or free operation to hand to a record layout. The call stays as the start-up
    // hook.
}

TextMap* MapCreate(int64_t elementSize, const void* /*textFieldLayout*/, TextMap** place,
                   int64_t bucketCount, uint32_t flags) {
    if (elementSize < 0 || elementSize > INT64_MAX - static_cast<int64_t>(sizeof(MapNode))) {
        return nullptr;
    }
    if (bucketCount < 1) bucketCount = 1;
    if (bucketCount > INT64_MAX / static_cast<int64_t>(sizeof(MapNode*))) return nullptr;

    auto* map = static_cast<TextMap*>(MemoryAllocate(sizeof(TextMap)));
    if (map == nullptr) return nullptr;
    map->elementSize = elementSize;
    map->bucketCount = bucketCount;
    map->flags = flags & kMapIgnoreCase;
    map->buckets = static_cast<MapNode**>(
        MemoryAllocate(bucketCount * static_cast<int64_t>(sizeof(MapNode*))));
    map->nodes = PoolCreate(static_cast<int64_t>(sizeof(MapNode)) + elementSize, kSmallestNodeChunk,
                            kLargestNodeChunk, kNodePoolFlags);
    if (map->buckets == nullptr || map->nodes == nullptr) {
        MapDestroy(map);
        return nullptr;
    }
    if (place != nullptr) *place = map;
    return map;
}

void MapDestroy(TextMap* map) {
    if (map == nullptr) return;
    if (map->buckets != nullptr) {
        for (int64_t i = 0; i < map->bucketCount; ++i) {
            for (MapNode* node = map->buckets[i]; node != nullptr; node = node->next) {
                MemoryFree(node->key);
            }
        }
    }
    PoolDestroy(map->nodes);  // frees the nodes in bulk
    MemoryFree(map->buckets);
    MemoryFree(map);
}

void* MapFind(TextMap* map, const char* key) {
    if (map == nullptr) return nullptr;
    if (key == nullptr) key = "";
    MapNode** link = LinkTo(map, key);
    return link != nullptr ? ElementOf(*link) : nullptr;
}

void* MapFindOrAdd(TextMap* map, const char* key) {
    if (map == nullptr) return nullptr;
    if (key == nullptr) key = "";
    void* found = MapFind(map, key);
    if (found != nullptr) return found;

    auto* node = static_cast<MapNode*>(PoolAlloc(map->nodes));
    if (node == nullptr) return nullptr;
    node->key = CopyKey(key);
    if (node->key == nullptr) {
        PoolFree(map->nodes, node);
        return nullptr;
    }
    MapNode** bucket = BucketOf(map, key);
    node->next = *bucket;
    *bucket = node;
    ++map->count;
    return ElementOf(node);  // zero-filled by the pool
}

bool MapRemove(TextMap* map, const char* key) {
    if (map == nullptr) return false;
    if (key == nullptr) key = "";
    MapNode** link = LinkTo(map, key);
    if (link == nullptr) return false;
    MapNode* node = *link;
    *link = node->next;
    MemoryFree(node->key);
    PoolFree(map->nodes, node);
    --map->count;
    return true;
}

int64_t MapCount(const TextMap* map) {
    return map == nullptr ? 0 : map->count;
}

uint32_t MapHashKey(const char* key, bool ignoreCase) {
    uint32_t hash = 0;
    if (key == nullptr) return hash;
    for (const char* p = key; *p != '\0'; ++p) {
        const char byte = ignoreCase ? LowerAscii(*p) : *p;
        // The byte counts as signed, so Latin-1 letters pull the hash down rather than up.
        const auto c = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte)));
        hash = c + (hash << 6) + (hash << 16) - hash;
    }
    return hash;
}
