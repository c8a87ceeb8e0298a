// The runtime's stores: memory blocks, block pools, text maps and object tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "runtime/block_pool.h"
#include "runtime/list.h"
#include "runtime/memory_block.h"
#include "runtime/object_table.h"
#include "runtime/text_map.h"

namespace {

TEST(MemoryBlockTest, SizesBelowOneOrTooLargeGiveNothingAndFailuresCanBeInjected) {
    for (int64_t size : {int64_t{0}, int64_t{-1}, INT64_MIN, INT64_MAX})
        EXPECT_EQ(MemoryAllocate(size), nullptr) << size;
    MemoryInjectFailures(1, 1);  // one success, one failure, then normal again
    void* blocks[] = {MemoryAllocate(24), MemoryAllocate(24), MemoryAllocate(24)};
    EXPECT_TRUE(blocks[0] != nullptr && blocks[1] == nullptr && blocks[2] != nullptr);
    EXPECT_EQ(MemorySize(blocks[2]), 24);
    for (void* block : blocks)
        MemoryFree(block);
}

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

// Chunks too large to count in 64 bits are refused, not wrapped; 1 GiB is taken: none is made yet.
TEST(BlockPoolTest, AbsurdBlockSizesAreRefused) {
    for (const auto& [size, taken] : {std::pair{int64_t{1} << 30, true}, {INT64_MAX, false}}) {
        BlockPool* pool = PoolCreate(size, 1, 1, kPoolPrivate);
        EXPECT_EQ(pool != nullptr, taken) << size;
        if (pool != nullptr) PoolDestroy(pool);
    }
}

// One shared pool per stride; one made after its last user's destroy starts empty.
TEST(BlockPoolTest, SharedPoolsLastUntilTheirLastUser) {
    BlockPool* pool = PoolCreate(13, 4, 4, kPoolShared);
    EXPECT_EQ(PoolCreate(16, 4, 4, kPoolShared), pool);  // the same stride
    ASSERT_NE(PoolAlloc(pool), nullptr);
    PoolDestroy(pool);
    EXPECT_EQ(PoolTotalBlocks(pool), 4);  // one user left: its chunk stays
    PoolDestroy(pool);
    BlockPool* other = PoolCreate(40, 4, 4, kPoolShared);
    BlockPool* again = PoolCreate(13, 4, 4, kPoolShared);
    EXPECT_NE(again, other);
    EXPECT_EQ(PoolTotalBlocks(again), 0);
    PoolDestroy(other);
    PoolDestroy(again);
}

// The payloads of a list from head to tail, and the same walked back from the tail.
std::string Walked(ListNode* head) {
    std::string forward, backward;
    for (void* at = ListFirst(head); at != nullptr; at = ListNext(at))
        forward += *static_cast<char*>(at);
    for (void* at = ListLast(head); at != nullptr; at = ListPrevious(at))
        backward.insert(backward.begin(), *static_cast<char*>(at));
    return forward == backward ? forward : forward + " but back " + backward;
}

TEST(ListTest, InsertionsAndRemovalsKeepBothDirections) {
    ListNode* head = nullptr;
    const auto add = [&head](void* after, char payload) {
        void* node = ListInsertAfter(&head, after, 1);
        *static_cast<char*>(node) = payload;
        return node;
    };
    void* b = add(nullptr, 'b');
    void* a = add(nullptr, 'a');
    void* d = add(b, 'd');
    add(b, 'c');
    void* e = add(d, 'e');
    EXPECT_EQ(Walked(head), "abcde");
    EXPECT_TRUE(ListContains(head, d) && !ListContains(head, &head));
    for (void* gone : {a, d, e})
        ListRemove(&head, gone);
    EXPECT_EQ(Walked(head), "bc");
    ListFreeAll(&head);
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(ListLast(head), nullptr);
}

// One bucket (a count below 1 is taken as 1): every key collides, removals keep the rest.
TEST(TextMapTest, KeysAreCopiedAndOneBucketHoldsALongChain) {
    MapLibraryInit();
    TextMap* map = nullptr;
    ASSERT_NE(MapCreate(sizeof(int64_t), nullptr, &map, 0), nullptr);
    char key[] = "Start";
    void* start = MapFindOrAdd(map, key);
    std::strcpy(key, "Other");  // the map keeps a copy of the key
    EXPECT_EQ(MapFindOrAdd(map, "Start"), start);
    EXPECT_EQ(MapFind(map, "start"), nullptr);  // case-sensitive
    for (int i = 0; i < 200; ++i)
        if (auto* element = static_cast<int64_t*>(MapFindOrAdd(map, std::to_string(i).c_str())))
            *element += i + 1;  // new elements start at zero
    for (int i : {199, 100, 0})
        EXPECT_TRUE(MapRemove(map, std::to_string(i).c_str()));
    for (int i = 0; i < 200; ++i) {
        const auto* element = static_cast<int64_t*>(MapFind(map, std::to_string(i).c_str()));
        EXPECT_EQ(element ? *element : 0, i == 199 || i == 100 || i == 0 ? 0 : i + 1) << i;
    }
    EXPECT_EQ(MapCount(map), 198);
    EXPECT_FALSE(MapRemove(nullptr, "1"));  // no map, nothing removed
    MapDestroy(map);
    // Elements of no size are elements; a negative size is refused.
    TextMap* empty = MapCreate(0, nullptr, nullptr, 4);
    EXPECT_NE(empty, nullptr);
    MapDestroy(empty);
    EXPECT_EQ(MapCreate(-1, nullptr, nullptr, 4), nullptr);
    for (int successes : {0, 1, 2}) {  // the map, its buckets, its node pool
        MemoryInjectFailures(successes, 1);
        EXPECT_EQ(MapCreate(8, nullptr, nullptr, 4), nullptr) << successes;
        MemoryInjectFailures(0, 0);
    }
    // The sdbm hash, each byte taken as signed; ignoring case hashes the lower-case form.
    EXPECT_EQ(MapHashKey("ab", false), 6363201u);
    EXPECT_EQ(MapHashKey("Start\xE9", false), 3509235751u);
    EXPECT_EQ(MapHashKey("AB", true), 6363201u);
    EXPECT_EQ(MapHashKey(nullptr, false), 0u);
    // Ignoring case, in one bucket: only the same letters in any case are the same key.
    ASSERT_NE(MapCreate(sizeof(int64_t), nullptr, &map, 1, kMapIgnoreCase), nullptr);
    start = MapFindOrAdd(map, "Start");
    EXPECT_EQ(MapFind(map, "sTART"), start);
    for (const char* other : {"Stop", "Star", "Starts", "St@rt"})
        EXPECT_EQ(MapFind(map, other), nullptr) << other;
    MapDestroy(map);
}

// A record as the interface layer keeps them: the platform object first (the liveness word).
struct Record {
    int64_t platformObject, data;
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

struct ObjectTableTest : ::testing::Test {
    void TearDown() override { ObjectTableFree(table_); }
    ObjectTable* Make(ObjectReleaseRoutine routine, int32_t growthStep = 8) {
        ObjectTableFree(table_);
        releasedNumbers.clear();
        dynamicNumbers.clear();
        return table_ = releasingTable = ObjectTableCreate(sizeof(Record), growthStep, routine);
    }
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
    EXPECT_EQ(Walk(table), (std::vector<int64_t>{0, 5, 7, 8, 15, 40}));
    ObjectReleaseAll(table);  // no release routine: the records stay
    EXPECT_EQ(Walk(table).size(), 6u);
}

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

// New objects, numbered by address above the slots, come last, even released ahead of the walk.
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
