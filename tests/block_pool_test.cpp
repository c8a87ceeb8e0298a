#include "runtime/block_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "runtime/memory_block.h"

namespace {

TEST(MemoryBlockTest, SizesBelowOneOrTooLargeGiveNothing) {
    for (int64_t size : {int64_t{0}, int64_t{-1}, INT64_MIN, INT64_MAX})
        EXPECT_EQ(MemoryAllocate(size), nullptr) << size;
}

// Blocks come back zeroed, are reused before a new chunk is made, never overlap, and a chunk
// goes as soon as its last block is back.
TEST(BlockPoolTest, BlocksAreReusedZeroedAndChunksFreedWhenEmpty) {
    BlockPool* pool = PoolCreate(13, 4, 4, kPoolPrivate);
    ASSERT_NE(pool, nullptr);
    std::vector<void*> blocks;
    for (int i = 0; i < 9; ++i) {  // two full chunks and one block of a third
        blocks.push_back(PoolAlloc(pool));
        ASSERT_NE(blocks.back(), nullptr);
        std::memset(blocks.back(), 0xab, 13);
    }
    EXPECT_EQ(std::set<void*>(blocks.begin(), blocks.end()).size(), blocks.size());
    PoolFree(pool, blocks[8]);
    EXPECT_EQ(PoolChunkCount(pool), 2);
    PoolFree(pool, blocks[1]);
    void* again = PoolAlloc(pool);
    EXPECT_EQ(again, blocks[1]);
    const auto* bytes = static_cast<const unsigned char*>(again);
    EXPECT_TRUE(std::all_of(bytes, bytes + 13, [](unsigned char b) { return b == 0; }));
    for (int i = 0; i < 3; ++i)
        PoolFree(pool, blocks[i]);
    EXPECT_EQ(PoolChunkCount(pool), 2);  // one block of the first chunk is still out
    PoolFree(pool, blocks[3]);
    EXPECT_EQ(PoolChunkCount(pool), 1);
    for (int i = 4; i < 8; ++i)
        PoolFree(pool, blocks[i]);
    EXPECT_EQ(PoolTotalBlocks(pool), 0);
    PoolDestroy(pool);
}

TEST(BlockPoolTest, ShortMemoryFallsBackToOneBlockChunks) {
    BlockPool* pool = PoolCreate(16, 16, 64, kPoolPrivate);
    ASSERT_NE(pool, nullptr);
    MemoryInjectFailures(0, 1);  // the full chunk fails, a one-block chunk is made
    void* single = PoolAlloc(pool);
    EXPECT_NE(single, nullptr);
    EXPECT_EQ(PoolTotalBlocks(pool), 1);
    MemoryInjectFailures(0, 2);  // neither can be had
    EXPECT_EQ(PoolAlloc(pool), nullptr);
    MemoryInjectFailures(0, 0);
    void* next = PoolAlloc(pool);
    EXPECT_NE(next, nullptr);
    PoolFree(pool, single);
    PoolFree(pool, next);
    EXPECT_EQ(PoolTotalBlocks(pool), 0);
    PoolDestroy(pool);
}

TEST(BlockPoolTest, SharedPoolsAreReusedByStrideAndFlags) {
    BlockPool* a = PoolCreate(20, 16, 64, kPoolShared);
    BlockPool* b = PoolCreate(24, 8, 8, kPoolShared);                  // same stride
    BlockPool* c = PoolCreate(24, 16, 64, kPoolShared | kPoolLocked);  // other flags
    BlockPool* d = PoolCreate(40, 16, 64, kPoolShared);                // other stride
    ASSERT_TRUE(a && b && c && d);
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::set<BlockPool*>({a, c, d}).size(), 3u);
    void* block = PoolAlloc(a);
    ASSERT_NE(block, nullptr);
    PoolDestroy(b);  // only drops a user: the pool and its blocks stay usable
    PoolFree(a, block);
    EXPECT_EQ(PoolTotalBlocks(a), 0);
    for (BlockPool* pool : {a, c, d})
        PoolDestroy(pool);
}

TEST(BlockPoolTest, LockedPoolServesSeveralThreads) {
    BlockPool* pool = PoolCreate(8, 16, 256, kPoolLocked);
    ASSERT_NE(pool, nullptr);
    std::vector<int> corrupted(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([pool, t, &corrupted] {
            for (int round = 0; round < 200; ++round) {
                std::vector<int64_t*> mine;
                for (int i = 0; i < 40; ++i) {
                    if (auto* block = static_cast<int64_t*>(PoolAlloc(pool))) {
                        *block = t * 1000000 + round * 100 + i;
                        mine.push_back(block);
                    }
                }
                // A block shared with another thread would have been overwritten.
                for (size_t i = 0; i < mine.size(); ++i) {
                    if (*mine[i] != t * 1000000 + round * 100 + static_cast<int64_t>(i))
                        ++corrupted[t];
                    PoolFree(pool, mine[i]);
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(corrupted, std::vector<int>(4, 0));
    EXPECT_EQ(PoolTotalBlocks(pool), 0);
    PoolDestroy(pool);
}

}  // namespace
