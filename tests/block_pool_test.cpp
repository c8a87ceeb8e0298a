#include "runtime/block_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "runtime/memory_block.h"

namespace {

TEST(MemoryBlockTest, SizesBelowOneGiveNothing) {
    for (int64_t size : {int64_t{0}, int64_t{-1}, INT64_MIN}) {
        EXPECT_EQ(MemoryAllocate(size), nullptr) << size;
    }
    EXPECT_EQ(MemoryAllocate(INT64_MAX), nullptr);  // no memory is that large
    MemoryFree(nullptr);
    EXPECT_EQ(MemorySize(nullptr), 0);
}

TEST(MemoryBlockTest, BlocksAreZeroFilledAndKnowTheirSize) {
    for (int64_t size : {1, 7, 8, 100, 4096}) {
        auto* block = static_cast<unsigned char*>(MemoryAllocate(size));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(MemorySize(block), size);
        EXPECT_TRUE(std::all_of(block, block + size, [](unsigned char b) { return b == 0; }));
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignof(std::max_align_t), 0u);
        MemoryFree(block);
    }
}

TEST(MemoryBlockTest, InjectedFailuresFollowTheAllowedOnes) {
    MemoryInjectFailures(1, 1);
    void* allowed = MemoryAllocate(8);
    void* failed = MemoryAllocate(8);
    void* afterwards = MemoryAllocate(8);
    EXPECT_NE(allowed, nullptr);
    EXPECT_EQ(failed, nullptr);
    EXPECT_NE(afterwards, nullptr);
    MemoryFree(allowed);
    MemoryFree(afterwards);
}

// Hands out `blocks` blocks and records the size of each chunk the pool added on the way.
std::vector<int64_t> ChunkSizesWhileAllocating(BlockPool* pool, int blocks,
                                               std::vector<void*>* out) {
    std::vector<int64_t> sizes;
    for (int i = 0; i < blocks; ++i) {
        const int64_t before = PoolTotalBlocks(pool);
        void* block = PoolAlloc(pool);
        if (block == nullptr) break;
        out->push_back(block);
        if (PoolTotalBlocks(pool) != before) sizes.push_back(PoolTotalBlocks(pool) - before);
    }
    return sizes;
}

void FreeAll(BlockPool* pool, std::vector<void*>* blocks) {
    for (void* block : *blocks)
        PoolFree(pool, block);
    blocks->clear();
}

// A run of `count` chunks of `size` blocks.
std::vector<int64_t> Chunks(int count, int64_t size) {
    return std::vector<int64_t>(static_cast<size_t>(count), size);
}

std::vector<int64_t> Join(std::vector<int64_t> a, const std::vector<int64_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(BlockPoolTest, ChunksGrowWithThePool) {
    struct Case {
        const char* name;
        int64_t smallest, largest;
        int blocks;
        std::vector<int64_t> chunkSizes;
    };
    const Case cases[] = {
        // 16-block chunks until the pool holds 512 blocks, then a sixteenth of the total.
        {"smallest 16", 16, 65536, 800, Join(Join(Chunks(32, 16), Chunks(8, 32)), {48})},
        {"largest caps", 16, 20, 550, Join(Chunks(32, 16), {20, 20})},
        {"large smallest", 100, 65536, 1801, Join(Chunks(18, 100), {112})},
        {"one-block chunks", 1, 1, 3, Chunks(3, 1)},
        {"largest below smallest", 8, 2, 17, Chunks(3, 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BlockPool* pool = PoolCreate(24, c.smallest, c.largest, kPoolPrivate);
        ASSERT_NE(pool, nullptr);
        std::vector<void*> blocks;
        EXPECT_EQ(ChunkSizesWhileAllocating(pool, c.blocks, &blocks), c.chunkSizes);
        EXPECT_EQ(PoolChunkCount(pool), static_cast<int64_t>(c.chunkSizes.size()));
        EXPECT_EQ(static_cast<int>(std::set<void*>(blocks.begin(), blocks.end()).size()), c.blocks);
        FreeAll(pool, &blocks);
        EXPECT_EQ(PoolTotalBlocks(pool), 0);
        PoolDestroy(pool);
    }
}

TEST(BlockPoolTest, StrideAndBlocksDoNotOverlap) {
    const std::pair<int64_t, int64_t> strides[] = {{0, 16}, {1, 16}, {8, 16}, {9, 24}, {24, 32}};
    for (auto [size, stride] : strides) {
        BlockPool* pool = PoolCreate(size, 4, 4, 0);
        ASSERT_NE(pool, nullptr);
        EXPECT_EQ(PoolBlockStride(pool), stride) << size;
        PoolDestroy(pool);
    }

    // Filling every block to its last byte must not disturb its neighbours' bookkeeping.
    BlockPool* pool = PoolCreate(13, 4, 4, 0);
    ASSERT_NE(pool, nullptr);
    std::vector<void*> blocks;
    for (int i = 0; i < 12; ++i) {
        void* block = PoolAlloc(pool);
        ASSERT_NE(block, nullptr);
        std::memset(block, 0xff, 13);
        blocks.push_back(block);
    }
    FreeAll(pool, &blocks);
    EXPECT_EQ(PoolTotalBlocks(pool), 0);
    PoolDestroy(pool);
}

TEST(BlockPoolTest, ChunkIsFreedWhenAllItsBlocksAreBack) {
    BlockPool* pool = PoolCreate(16, 16, 16, kPoolPrivate);
    ASSERT_NE(pool, nullptr);
    std::vector<void*> first;
    for (int i = 0; i < 16; ++i)
        first.push_back(PoolAlloc(pool));
    void* extra = PoolAlloc(pool);  // opens a second chunk
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(PoolTotalBlocks(pool), 32);

    PoolFree(pool, extra);
    EXPECT_EQ(PoolTotalBlocks(pool), 16);
    EXPECT_EQ(PoolChunkCount(pool), 1);

    // Half back keeps the chunk; the last one back frees it.
    for (int i = 0; i < 15; ++i)
        PoolFree(pool, first[i]);
    EXPECT_EQ(PoolTotalBlocks(pool), 16);
    PoolFree(pool, first[15]);
    EXPECT_EQ(PoolTotalBlocks(pool), 0);
    EXPECT_EQ(PoolChunkCount(pool), 0);
    PoolDestroy(pool);
}

TEST(BlockPoolTest, ReturnedBlocksAreReusedZeroed) {
    BlockPool* pool = PoolCreate(32, 4, 4, kPoolPrivate);
    ASSERT_NE(pool, nullptr);
    std::vector<void*> blocks;
    for (int i = 0; i < 8; ++i) {  // two full chunks
        void* block = PoolAlloc(pool);
        ASSERT_NE(block, nullptr);
        std::memset(block, 0xab, 32);
        blocks.push_back(block);
    }
    // A block from the first, full chunk comes back and is handed out again before any new
    // chunk is made.
    PoolFree(pool, blocks[1]);
    auto* again = static_cast<unsigned char*>(PoolAlloc(pool));
    EXPECT_EQ(again, blocks[1]);
    EXPECT_EQ(PoolTotalBlocks(pool), 8);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(std::all_of(again, again + 32, [](unsigned char b) { return b == 0; }));
    FreeAll(pool, &blocks);
    EXPECT_EQ(PoolTotalBlocks(pool), 0);
    PoolDestroy(pool);
}

TEST(BlockPoolTest, ShortMemoryFallsBackToOneBlockChunks) {
    BlockPool* pool = PoolCreate(16, 16, 64, kPoolPrivate);
    ASSERT_NE(pool, nullptr);
    MemoryInjectFailures(0, 1);  // the 16-block chunk fails, the one-block chunk is made
    void* single = PoolAlloc(pool);
    EXPECT_NE(single, nullptr);
    EXPECT_EQ(PoolTotalBlocks(pool), 1);

    MemoryInjectFailures(0, 2);  // neither can be had
    EXPECT_EQ(PoolAlloc(pool), nullptr);
    EXPECT_EQ(PoolTotalBlocks(pool), 1);
    MemoryInjectFailures(0, 0);

    void* next = PoolAlloc(pool);  // the single chunk is full, so a normal one follows
    EXPECT_NE(next, nullptr);
    EXPECT_EQ(PoolTotalBlocks(pool), 17);
    PoolFree(pool, single);
    PoolFree(pool, next);
    EXPECT_EQ(PoolTotalBlocks(pool), 0);
    PoolDestroy(pool);
}

TEST(BlockPoolTest, SharedPoolsAreReusedByStrideAndFlags) {
    BlockPool* a = PoolCreate(20, 16, 64, kPoolShared);
    BlockPool* b = PoolCreate(24, 8, 8, kPoolShared);                  // same stride of 32
    BlockPool* c = PoolCreate(24, 16, 64, kPoolShared | kPoolLocked);  // other flags
    BlockPool* d = PoolCreate(40, 16, 64, kPoolShared);                // other stride
    BlockPool* e = PoolCreate(24, 16, 64, kPoolPrivate);
    BlockPool* f = PoolCreate(24, 16, 64, kPoolPrivate);
    ASSERT_TRUE(a && b && c && d && e && f);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(a, d);
    EXPECT_NE(e, f);
    EXPECT_NE(a, e);

    // The first destroy only drops a user: the pool and its blocks stay usable.
    void* block = PoolAlloc(a);
    ASSERT_NE(block, nullptr);
    PoolDestroy(b);
    PoolFree(a, block);
    EXPECT_EQ(PoolTotalBlocks(a), 0);
    PoolDestroy(a);

    // After the last user is gone a new shared pool is made.
    BlockPool* fresh = PoolCreate(24, 16, 64, kPoolShared);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(PoolTotalBlocks(fresh), 0);
    for (BlockPool* pool : {fresh, c, d, e, f})
        PoolDestroy(pool);
}

TEST(BlockPoolTest, LockedPoolServesSeveralThreads) {
    BlockPool* pool = PoolCreate(8, 16, 256, kPoolLocked);
    ASSERT_NE(pool, nullptr);
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    constexpr int kBatch = 40;
    std::vector<int> corrupted(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([pool, t, &corrupted] {
            std::vector<int64_t*> mine;
            for (int round = 0; round < kRounds; ++round) {
                for (int i = 0; i < kBatch; ++i) {
                    auto* block = static_cast<int64_t*>(PoolAlloc(pool));
                    if (block == nullptr) continue;
                    *block = t * 1000000 + round * 100 + i;
                    mine.push_back(block);
                }
                // A block shared with another thread would have been overwritten.
                for (size_t i = 0; i < mine.size(); ++i) {
                    if (*mine[i] != t * 1000000 + round * 100 + static_cast<int64_t>(i)) {
                        ++corrupted[t];
                    }
                    PoolFree(pool, mine[i]);
                }
                mine.clear();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(corrupted, std::vector<int>(kThreads, 0));
    EXPECT_EQ(PoolTotalBlocks(pool), 0);
    PoolDestroy(pool);
}

}  // namespace
