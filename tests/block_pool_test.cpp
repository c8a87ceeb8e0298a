#include "runtime/block_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "runtime/memory_block.h"

namespace {

bool AllZero(const void* block, int64_t size) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

TEST(MemoryBlockTest, SizesBelowOneOrTooLargeGiveNothing) {
    for (int64_t size : {int64_t{0}, int64_t{-1}, INT64_MIN, INT64_MAX})
        EXPECT_EQ(MemoryAllocate(size), nullptr) << size;
}

void FreeAll(BlockPool* pool, std::vector<void*>* blocks) {
    for (void* block : *blocks)
        PoolFree(pool, block);
    blocks->clear();
}

// Runs of `count` chunks of `size` blocks, one pair after the other.
std::vector<int64_t> Chunks(std::initializer_list<std::pair<int, int64_t>> runs) {
    std::vector<int64_t> sizes;
    for (auto [count, size] : runs)
        sizes.insert(sizes.end(), static_cast<size_t>(count), size);
    return sizes;
}

TEST(BlockPoolTest, ChunksGrowWithThePool) {
    struct Case {
        int64_t smallest, largest;
        int blocks;
        std::vector<int64_t> chunkSizes;
    };
    const Case cases[] = {
        // 16-block chunks until the pool holds 512 blocks, then a sixteenth of the total.
        {16, 65536, 800, Chunks({{32, 16}, {8, 32}, {1, 48}})},
        {16, 20, 550, Chunks({{32, 16}, {2, 20}})},  // the largest caps
        {100, 65536, 1801, Chunks({{18, 100}, {1, 112}})},
        {8, 2, 17, Chunks({{3, 8}})},  // largest below smallest
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.blocks);
        BlockPool* pool = PoolCreate(24, c.smallest, c.largest, kPoolPrivate);
        ASSERT_NE(pool, nullptr);
        std::vector<void*> blocks;
        std::vector<int64_t> sizes;
        for (int i = 0; i < c.blocks; ++i) {
            const int64_t before = PoolTotalBlocks(pool);
            blocks.push_back(PoolAlloc(pool));
            ASSERT_NE(blocks.back(), nullptr);
            if (PoolTotalBlocks(pool) != before) sizes.push_back(PoolTotalBlocks(pool) - before);
        }
        EXPECT_EQ(sizes, c.chunkSizes);
        EXPECT_EQ(std::set<void*>(blocks.begin(), blocks.end()).size(), blocks.size());
        FreeAll(pool, &blocks);
        EXPECT_EQ(PoolTotalBlocks(pool), 0);
        PoolDestroy(pool);
    }
}

TEST(BlockPoolTest, ChunkIsFreedWhenAllItsBlocksAreBack) {
    BlockPool* pool = PoolCreate(16, 16, 16, kPoolPrivate);
    ASSERT_NE(pool, nullptr);
    std::vector<void*> first;
    for (int i = 0; i < 16; ++i)
        first.push_back(PoolAlloc(pool));
    void* extra = PoolAlloc(pool);  // opens a second chunk
    ASSERT_NE(extra, nullptr);
    PoolFree(pool, extra);
    EXPECT_EQ(PoolTotalBlocks(pool), 16);
    // All but one back keeps the chunk; the last one back frees it.
    for (int i = 0; i < 15; ++i)
        PoolFree(pool, first[i]);
    EXPECT_EQ(PoolTotalBlocks(pool), 16);
    PoolFree(pool, first[15]);
    EXPECT_EQ(PoolTotalBlocks(pool), 0);
    EXPECT_EQ(PoolChunkCount(pool), 0);
    PoolDestroy(pool);
}

TEST(BlockPoolTest, ReturnedBlocksAreReusedZeroedAndFullBlocksDoNotOverlap) {
    BlockPool* pool = PoolCreate(13, 4, 4, kPoolPrivate);
    ASSERT_NE(pool, nullptr);
    std::vector<void*> blocks;
    for (int i = 0; i < 8; ++i) {  // two full chunks, every byte written
        blocks.push_back(PoolAlloc(pool));
        ASSERT_NE(blocks.back(), nullptr);
        std::memset(blocks.back(), 0xab, 13);
    }
    // A block of the first chunk comes back and is handed out again before any new chunk.
    PoolFree(pool, blocks[1]);
    void* again = PoolAlloc(pool);
    EXPECT_EQ(again, blocks[1]);
    EXPECT_EQ(PoolTotalBlocks(pool), 8);
    EXPECT_TRUE(AllZero(again, 13));
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
    MemoryInjectFailures(0, 0);
    void* next = PoolAlloc(pool);  // the single chunk is full, so a normal one follows
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
    ASSERT_TRUE(a && b && c && d);
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::set<BlockPool*>({a, c, d}).size(), 3u);

    // The first destroy only drops a user: the pool and its blocks stay usable.
    void* block = PoolAlloc(a);
    ASSERT_NE(block, nullptr);
    PoolDestroy(b);
    PoolFree(a, block);
    EXPECT_EQ(PoolTotalBlocks(a), 0);
    for (BlockPool* pool : {a, c, d})
        PoolDestroy(pool);
}

TEST(BlockPoolTest, LockedPoolServesSeveralThreads) {
    BlockPool* pool = PoolCreate(8, 16, 256, kPoolLocked);
    ASSERT_NE(pool, nullptr);
    constexpr int kThreads = 4;
    std::vector<int> corrupted(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([pool, t, &corrupted] {
            std::vector<int64_t*> mine;
            for (int round = 0; round < 200; ++round) {
                for (int i = 0; i < 40; ++i) {
                    if (auto* block = static_cast<int64_t*>(PoolAlloc(pool))) {
                        *block = t * 1000000 + round * 100 + static_cast<int64_t>(mine.size());
                        mine.push_back(block);
                    }
                }
                // A block shared with another thread would have been overwritten.
                for (size_t i = 0; i < mine.size(); ++i) {
                    if (*mine[i] != t * 1000000 + round * 100 + static_cast<int64_t>(i))
                        ++corrupted[t];
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
