// Block pools: fixed-size blocks carved from chunks that grow with the pool, so that many small
// nodes of one kind cost one allocation per chunk. A chunk is freed as soon as every block it
// handed out has come back.
#pragma once

#include <cstdint>

struct BlockPool;

// Creation flags. With (flags & 3) == 1 the pool has its own recursive mutex and may be used
// from several threads; otherwise it must stay on one thread at a time.
constexpr uint32_t kPoolLocked = 1;
// A private, unlocked pool.
constexpr uint32_t kPoolPrivate = 2;
// A shared pool: creating one with the same block stride and flags as a live shared pool hands
// out that pool again (reference counted) instead of making a new one.
constexpr uint32_t kPoolShared = 4;

// A pool of blocks of blockSize bytes (at least 8) whose new chunks hold between smallestChunk
// and largestChunk blocks (at least 1; largest no smaller than smallest); null when memory is
// short or the sizes are absurd.
BlockPool* PoolCreate(int64_t blockSize, int64_t smallestChunk, int64_t largestChunk,
                      uint32_t flags);
// Lets go of a pool from PoolCreate: a shared pool only when its last user lets go. Its chunks
// are freed even if blocks are still out. Null is ignored.
void PoolDestroy(BlockPool* pool);

// A zero-filled block of the pool's size, or null when memory is short.
void* PoolAlloc(BlockPool* pool);
// Gives a block from PoolAlloc on the same pool back; null is ignored.
void PoolFree(BlockPool* pool, void* block);

// Blocks in all of the pool's chunks, handed out or not.
int64_t PoolTotalBlocks(BlockPool* pool);
// Chunks the pool holds, with room or full.
int64_t PoolChunkCount(BlockPool* pool);
// Distance in bytes between neighbouring blocks of a chunk (block size rounded up to 8, plus the
// 8-byte pointer to the owning chunk).
int64_t PoolBlockStride(const BlockPool* pool);
