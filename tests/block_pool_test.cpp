#include "runtime/block_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
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

}  // namespace
