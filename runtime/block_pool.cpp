#include "runtime/block_pool.h"

#include <cstring>
#include <mutex>
#include <new>

#include "runtime/memory_block.h"

namespace {

// Header of a chunk; its blocks follow it. Each block starts with the owning chunk's address,
// and a returned block keeps the free list's link in its first payload bytes.
struct alignas(16) PoolChunk {
    PoolChunk* next;
    PoolChunk* previous;
    void* freeList;     // returned blocks, by payload address
    int64_t capacity;   // blocks in the chunk
    int64_t handedOut;  // blocks ever handed out (the next never-used block's index)
    int64_t returned;   // blocks on the free list
    bool full;          // on the pool's full list rather than its list with room
};

constexpr int64_t kChunkLink = sizeof(PoolChunk*);
// Bounds that keep a chunk's byte size inside 64 bits; larger requests are refused.
constexpr int64_t kLargestBlock = int64_t{1} << 32;
constexpr int64_t kLargestChunkCount = int64_t{1} << 32;

// Block counts of new chunks follow the pool's size: a sixteenth of what it already holds,
// kept to a multiple of 16.
constexpr int64_t kGrowthDivisor = 16;
constexpr int64_t kGrowthGranule = 16;

}  // namespace

struct BlockPool {
    int64_t stride;
    int64_t smallestChunk;
    int64_t largestChunk;
    uint32_t flags;
    bool locked;
    int64_t totalBlocks;
    PoolChunk* chunksWithRoom;
    PoolChunk* fullChunks;
    std::recursive_mutex mutex;
    int64_t sharers;        // users of a shared pool
    BlockPool* nextShared;  // link in the process-wide list of shared pools
};

namespace {

// Guards the list of shared pools and their user counts.
std::mutex sharedPoolsMutex;
BlockPool* sharedPools = nullptr;

// Holds the pool's mutex for a scope when the pool is a locked one.
class PoolLock {
  public:
    explicit PoolLock(BlockPool* pool) : pool_(pool) {
        if (pool_->locked) pool_->mutex.lock();
    }
    ~PoolLock() {
        if (pool_->locked) pool_->mutex.unlock();
    }
    PoolLock(const PoolLock&) = delete;
    PoolLock& operator=(const PoolLock&) = delete;

  private:
    BlockPool* pool_;
};

void LinkChunk(PoolChunk** head, PoolChunk* chunk) {
    chunk->previous = nullptr;
    chunk->next = *head;
    if (*head != nullptr) (*head)->previous = chunk;
    *head = chunk;
}

void UnlinkChunk(PoolChunk** head, PoolChunk* chunk) {
    if (chunk->previous != nullptr) {
        chunk->previous->next = chunk->next;
    } else {
        *head = chunk->next;
    }
    if (chunk->next != nullptr) chunk->next->previous = chunk->previous;
}

PoolChunk** ListOf(BlockPool* pool, PoolChunk* chunk) {
    return chunk->full ? &pool->fullChunks : &pool->chunksWithRoom;
}

void MoveChunk(BlockPool* pool, PoolChunk* chunk, bool full) {
    UnlinkChunk(ListOf(pool, chunk), chunk);
    chunk->full = full;
    LinkChunk(ListOf(pool, chunk), chunk);
}

char* BlockAt(const BlockPool* pool, PoolChunk* chunk, int64_t index) {
    return reinterpret_cast<char*>(chunk) + sizeof(PoolChunk) + index * pool->stride;
}

PoolChunk*& OwnerOf(void* payload) {
    return *reinterpret_cast<PoolChunk**>(static_cast<char*>(payload) - kChunkLink);
}

// Block count of the next chunk for a pool that already holds total blocks.
int64_t NextChunkBlocks(const BlockPool* pool) {
    const int64_t byShare = (pool->totalBlocks / kGrowthDivisor) / kGrowthGranule * kGrowthGranule;
    if (byShare < pool->smallestChunk) return pool->smallestChunk;
    return byShare < pool->largestChunk ? byShare : pool->largestChunk;
}

PoolChunk* AllocateChunk(const BlockPool* pool, int64_t blocks) {
    if (blocks > (INT64_MAX - static_cast<int64_t>(sizeof(PoolChunk))) / pool->stride) {
        return nullptr;
    }
    auto* chunk = static_cast<PoolChunk*>(
        MemoryAllocate(static_cast<int64_t>(sizeof(PoolChunk)) + blocks * pool->stride));
    if (chunk != nullptr) chunk->capacity = blocks;
    return chunk;
}

// Adds a chunk sized for the pool's growth, or of a single block when that much memory cannot
// be had; null when not even that can.
PoolChunk* AddChunk(BlockPool* pool) {
    PoolChunk* chunk = AllocateChunk(pool, NextChunkBlocks(pool));
    if (chunk == nullptr) chunk = AllocateChunk(pool, 1);
    if (chunk == nullptr) return nullptr;
    pool->totalBlocks += chunk->capacity;
    chunk->full = chunk->capacity == 1;
    LinkChunk(ListOf(pool, chunk), chunk);
    return chunk;
}

// Takes a block out of a chunk with room: a returned one first, else the next never-used one.
void* TakeBlock(BlockPool* pool, PoolChunk* chunk) {
    void* payload = nullptr;
    if (chunk->freeList != nullptr) {
        payload = chunk->freeList;
        std::memcpy(&chunk->freeList, payload, sizeof(void*));
        --chunk->returned;
        std::memset(payload, 0, static_cast<size_t>(pool->stride - kChunkLink));
    } else {
        payload = BlockAt(pool, chunk, chunk->handedOut++) + kChunkLink;
    }
    OwnerOf(payload) = chunk;
    if (!chunk->full && chunk->freeList == nullptr && chunk->handedOut == chunk->capacity) {
        MoveChunk(pool, chunk, true);
    }
    return payload;
}

BlockPool* NewPool(int64_t stride, int64_t smallestChunk, int64_t largestChunk, uint32_t flags) {
    void* memory = MemoryAllocate(sizeof(BlockPool));
    if (memory == nullptr) return nullptr;
    auto* pool = new (memory) BlockPool{};
    pool->stride = stride;
    pool->smallestChunk = smallestChunk;
    pool->largestChunk = largestChunk;
    pool->flags = flags;
    pool->locked = (flags & 3) == kPoolLocked;
    pool->sharers = 1;
    return pool;
}

void FreeChunks(PoolChunk* chunk) {
    while (chunk != nullptr) {
        PoolChunk* next = chunk->next;
        MemoryFree(chunk);
        chunk = next;
    }
}

void DeletePool(BlockPool* pool) {
    FreeChunks(pool->chunksWithRoom);
    FreeChunks(pool->fullChunks);
    pool->~BlockPool();
    MemoryFree(pool);
}

// A live shared pool with this stride and flags, now with one more user; null when none.
BlockPool* ReuseSharedPool(int64_t stride, uint32_t flags) {
    for (BlockPool* pool = sharedPools; pool != nullptr; pool = pool->nextShared) {
        if (pool->stride == stride && pool->flags == flags) {
            ++pool->sharers;
            return pool;
        }
    }
    return nullptr;
}

}  // namespace

BlockPool* PoolCreate(int64_t blockSize, int64_t smallestChunk, int64_t largestChunk,
                      uint32_t flags) {
    // A returned block holds the free-list link, so no block is smaller than a pointer.
    if (blockSize < 8) blockSize = 8;
    if (blockSize > kLargestBlock) return nullptr;
    const int64_t stride = (blockSize + 7) / 8 * 8 + kChunkLink;
    if (smallestChunk < 1) smallestChunk = 1;
    if (smallestChunk > kLargestChunkCount) smallestChunk = kLargestChunkCount;
    if (largestChunk < smallestChunk) largestChunk = smallestChunk;
    if (largestChunk > kLargestChunkCount) largestChunk = kLargestChunkCount;

    if ((flags & kPoolShared) == 0) return NewPool(stride, smallestChunk, largestChunk, flags);

    std::lock_guard guard(sharedPoolsMutex);
    BlockPool* pool = ReuseSharedPool(stride, flags);
    if (pool != nullptr) return pool;
    pool = NewPool(stride, smallestChunk, largestChunk, flags);
    if (pool == nullptr) return nullptr;
    pool->nextShared = sharedPools;
    sharedPools = pool;
    return pool;
}

void PoolDestroy(BlockPool* pool) {
    if (pool == nullptr) return;
    if ((pool->flags & kPoolShared) == 0) {
        DeletePool(pool);
        return;
    }
    std::lock_guard guard(sharedPoolsMutex);
    if (--pool->sharers > 0) return;
    for (BlockPool** link = &sharedPools; *link != nullptr; link = &(*link)->nextShared) {
        if (*link == pool) {
            *link = pool->nextShared;
            break;
        }
    }
    DeletePool(pool);
}

void* PoolAlloc(BlockPool* pool) {
    if (pool == nullptr) return nullptr;
    PoolLock lock(pool);
    PoolChunk* chunk = pool->chunksWithRoom;
    if (chunk == nullptr) {
        chunk = AddChunk(pool);
        if (chunk == nullptr) return nullptr;
    }
    return TakeBlock(pool, chunk);
}

void PoolFree(BlockPool* pool, void* block) {
    if (pool == nullptr || block == nullptr) return;
    PoolLock lock(pool);
    PoolChunk* chunk = OwnerOf(block);
    std::memcpy(block, &chunk->freeList, sizeof(void*));
    chunk->freeList = block;
    ++chunk->returned;

    if (chunk->returned == chunk->handedOut) {
        UnlinkChunk(ListOf(pool, chunk), chunk);
        pool->totalBlocks -= chunk->capacity;
        MemoryFree(chunk);
    } else if (chunk->full && chunk->returned == 1) {
        MoveChunk(pool, chunk, false);
    }
}

int64_t PoolTotalBlocks(BlockPool* pool) {
    if (pool == nullptr) return 0;
    PoolLock lock(pool);
    return pool->totalBlocks;
}

int64_t PoolChunkCount(BlockPool* pool) {
    if (pool == nullptr) return 0;
    PoolLock lock(pool);
    int64_t count = 0;
    for (PoolChunk* chunk = pool->chunksWithRoom; chunk != nullptr; chunk = chunk->next)
        ++count;
    for (PoolChunk* chunk = pool->fullChunks; chunk != nullptr; chunk = chunk->next)
        ++count;
    return count;
}

int64_t PoolBlockStride(const BlockPool* pool) {
    return pool == nullptr ? 0 : pool->stride;
}
