// The runtime's stores: memory blocks, block pools, text maps and object tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "runtime/block_pool.h"
#include "runtime/memory_block.h"
#include "runtime/object_table.h"
#include "runtime/text_map.h"

namespace {

TEST(MemoryBlockTest, SizesBelowOneOrTooLargeGiveNothing) {
    for (int64_t size : {int64_t{0}, int64_t{-1}, INT64_MIN, INT64_MAX})
        EXPECT_EQ(MemoryAllocate(size), nullptr) << size;
}

// Blocks never overlap, come back zeroed and are reused before a new chunk is made, and a chunk
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
    PoolFree(pool, blocks[1]);
    const auto* again = static_cast<const char*>(PoolAlloc(pool));
    EXPECT_EQ(again, blocks[1]);
    EXPECT_EQ(std::count(again, again + 13, 0), 13);
    for (int i = 0; i < 8; ++i)
        PoolFree(pool, blocks[i]);
    EXPECT_EQ(PoolChunkCount(pool), 1);
    PoolFree(pool, blocks[8]);
    EXPECT_EQ(PoolTotalBlocks(pool), 0);
    PoolDestroy(pool);
}

class TextMapTest : public ::testing::Test {
  protected:
    void TearDown() override { MapDestroy(map_); }
    TextMap* map_ = nullptr;
};

TEST_F(TextMapTest, FindOrAddGivesExistingOrNewZeroedElements) {
    MapLibraryInit();
    ASSERT_NE(MapCreate(8, nullptr, &map_, 1024), nullptr);
    char key[] = "Start";
    auto* start = static_cast<int64_t*>(MapFindOrAdd(map_, key));
    ASSERT_NE(start, nullptr);
    *start = 42;
    std::strcpy(key, "Other");  // the map keeps a copy of the key
    EXPECT_EQ(MapFindOrAdd(map_, "Start"), start);
    EXPECT_EQ(MapFind(map_, "Other"), nullptr);
    for (const char* other : {"start", "Star", "Startx"}) {  // case-sensitive: other keys
        EXPECT_EQ(MapFind(map_, other), nullptr) << other;
        auto* element = static_cast<int64_t*>(MapFindOrAdd(map_, other));
        ASSERT_NE(element, nullptr);
        EXPECT_EQ(*element, 0);
    }
    EXPECT_EQ(MapCount(map_), 4);
    EXPECT_EQ(*start, 42);
    MapDestroy(map_);
    ASSERT_NE(MapCreate(8, nullptr, &map_, 64, kMapIgnoreCase), nullptr);
    void* element = MapFindOrAdd(map_, "ZoomBar");
    EXPECT_EQ(MapFind(map_, "zoombar"), element);
    MapFindOrAdd(map_, "\xE9");
    EXPECT_EQ(MapFind(map_, "\xC9"), nullptr);  // only ASCII letters fold
    EXPECT_EQ(MapFindOrAdd(map_, "ZOOMBAR"), element);
}

TEST_F(TextMapTest, OneBucketHoldsALongChain) {
    // A bucket count below 1 is taken as 1, so every key collides.
    ASSERT_NE(MapCreate(sizeof(int64_t), nullptr, &map_, 0), nullptr);
    constexpr int kKeys = 200;
    for (int i = 0; i < kKeys; ++i) {
        auto* element = static_cast<int64_t*>(MapFindOrAdd(map_, std::to_string(i).c_str()));
        ASSERT_NE(element, nullptr);
        *element = i;
    }
    for (int i : {kKeys - 1, 100, 0})  // the chain's head, middle and tail
        EXPECT_TRUE(MapRemove(map_, std::to_string(i).c_str()));
    for (int i = 0; i < kKeys; ++i) {
        const auto* element = static_cast<int64_t*>(MapFind(map_, std::to_string(i).c_str()));
        const bool removed = i == kKeys - 1 || i == 100 || i == 0;
        EXPECT_EQ(element == nullptr ? -1 : *element, removed ? -1 : i);
    }
    EXPECT_EQ(*static_cast<int64_t*>(MapFindOrAdd(map_, "100")), 0);  // back new and zeroed
}

// A record as the interface layer keeps them: the platform object first (the liveness word).
struct Record {
    int64_t platformObject;
    int64_t data;
};

// What the release routines saw; plain function pointers cannot carry state.
ObjectTable* releasingTable = nullptr;
std::vector<int64_t> releasedNumbers, dynamicNumbers;

void ReleaseAndRecord(int64_t number) {
    releasedNumbers.push_back(number);
    ObjectRelease(releasingTable, number);
}

// Releases the -1 record created after the one visited, as closing a child with its parent.
void ReleaseItAndTheNextNewer(int64_t number) {
    ReleaseAndRecord(number);
    for (size_t i = 0; i + 1 < dynamicNumbers.size(); ++i)
        if (dynamicNumbers[i] == number) ObjectRelease(releasingTable, dynamicNumbers[i + 1]);
}

// Makes a record live, as an owner does once its platform object exists.
Record* MakeLive(ObjectTable* table, int64_t number, int64_t value) {
    auto* record = static_cast<Record*>(ObjectGetOrCreate(table, number));
    if (record != nullptr) *record = {value, value * 10};
    return record;
}

std::vector<int64_t> Walk(ObjectTable* table) {
    std::vector<int64_t> numbers;
    ObjectIterateStart(table);
    int64_t number = 0;
    for (int guard = 0; guard < 1000 && ObjectIterateNext(table, &number) != nullptr; ++guard)
        numbers.push_back(number);
    return numbers;
}

class ObjectTableTest : public ::testing::Test {
  protected:
    void TearDown() override { ObjectTableFree(table_); }
    ObjectTable* Make(ObjectReleaseRoutine routine, int32_t growthStep = 8) {
        ObjectTableFree(table_);
        releasedNumbers.clear();
        dynamicNumbers.clear();
        return table_ = releasingTable = ObjectTableCreate(sizeof(Record), growthStep, routine);
    }
    // Adds `count` live -1 records and remembers their numbers in dynamicNumbers.
    void AddDynamic(int count) {
        for (int i = 0; i < count; ++i)
            if (Record* record = MakeLive(table_, kNewObjectNumber, 100 + i))
                dynamicNumbers.push_back(ObjectNumberOf(record));
        ASSERT_EQ(dynamicNumbers.size(), static_cast<size_t>(count));
    }
    ObjectTable* table_ = nullptr;
};

TEST_F(ObjectTableTest, RecordsKeepTheirSlotsAsTheTableGrows) {
    ObjectTable* table = Make(nullptr);
    const int64_t numbers[] = {5, 7, 8, 15, 40, 0};
    for (int64_t number : numbers)
        ASSERT_NE(MakeLive(table, number, number + 1), nullptr) << number;
    for (int64_t number : numbers) {
        auto* record = static_cast<Record*>(ObjectFromNumber(table, number));
        EXPECT_EQ(record ? record->platformObject : -1, number + 1);
    }
    EXPECT_EQ(ObjectFromNumber(table, 6), nullptr);  // a slot never created
    // Numbers below -1 or too large for any slot array are refused.
    for (int64_t wrong : {int64_t{-2}, INT64_MIN, INT64_MAX, int64_t{1} << 45})
        EXPECT_EQ(ObjectGetOrCreate(table, wrong), nullptr) << wrong;
    MemoryInjectFailures(0, 1);  // a larger slot array cannot be had: the table stays as it was
    EXPECT_EQ(ObjectGetOrCreate(table, 90), nullptr);
    MemoryInjectFailures(0, 0);
    EXPECT_EQ(Walk(table), (std::vector<int64_t>{0, 5, 7, 8, 15, 40}));
}

// A recreated number is released first and comes back as the same zeroed record; a released one
// is dead, zeroed, and its memory is reused.
TEST_F(ObjectTableTest, RecreatedAndReleasedNumbersComeBackZeroed) {
    Record* record = MakeLive(Make(ReleaseAndRecord), 3, 77);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(ObjectGetOrCreate(table_, 3), record);
    EXPECT_EQ(releasedNumbers, std::vector<int64_t>{3});
    EXPECT_EQ(record->platformObject | record->data, 0);
    *record = {5, 50};
    ObjectRelease(table_, 3);
    EXPECT_EQ(ObjectFromNumber(table_, 3), nullptr);
    EXPECT_EQ(record->data, 0);  // the whole record is zeroed, not only its first word
    EXPECT_EQ(MakeLive(table_, 3, 6), record);
    ObjectRelease(table_, 1);      // a slot without a record
    ObjectRelease(table_, 12345);  // neither a slot nor a -1 record
    EXPECT_EQ(ObjectFromNumber(table_, 3), record);
}

// New objects are numbered by their address, above every slot, and are live once their object
// is set. Walks and ObjectReleaseAll go up through the slots, then over the new objects oldest
// first, even when the release routine releases records ahead of the walk.
TEST_F(ObjectTableTest, WalkAndReleaseAllVisitSlotsThenNewObjectsOldestFirst) {
    ObjectTable* table = Make(ReleaseAndRecord, 4);
    for (int64_t number : {9, 1, 4, 0})
        ASSERT_NE(MakeLive(table, number, number + 1), nullptr);
    ASSERT_NE(ObjectGetOrCreate(table, 6), nullptr);  // created but never made live
    auto* unset = static_cast<Record*>(ObjectGetOrCreate(table, kNewObjectNumber));
    AddDynamic(4);
    EXPECT_GE(std::min(dynamicNumbers[0], dynamicNumbers[3]), ObjectTableSlotCount(table));
    // Addresses that are not live records of this table, including one inside a record.
    Record stranger{1, 1};
    for (int64_t wrong : {ObjectNumberOf(&stranger), ObjectNumberOf(unset), dynamicNumbers[1] + 8,
                          int64_t{-1}, int64_t{-7}})
        EXPECT_EQ(ObjectFromNumber(table, wrong), nullptr);
    for (int64_t gone : {int64_t{4}, dynamicNumbers[2], ObjectNumberOf(unset)})
        ObjectRelease(table, gone);
    const std::vector<int64_t> expected = {
        0, 1, 9, dynamicNumbers[0], dynamicNumbers[1], dynamicNumbers[3]};
    EXPECT_EQ(Walk(table), expected);
    ObjectReleaseAll(table);
    EXPECT_EQ(releasedNumbers, expected);
    EXPECT_TRUE(Walk(table).empty());

    Make(ReleaseItAndTheNextNewer);
    AddDynamic(4);
    ObjectReleaseAll(table_);
    EXPECT_EQ(releasedNumbers, (std::vector<int64_t>{dynamicNumbers[0], dynamicNumbers[2]}));
    EXPECT_TRUE(Walk(table_).empty());
}

}  // namespace
