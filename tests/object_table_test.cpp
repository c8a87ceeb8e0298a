#include "runtime/object_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "runtime/list.h"
#include "runtime/memory_block.h"

namespace {

// A record as the interface layer keeps them: the platform object first (the liveness word).
struct Record {
    int64_t platformObject;
    int64_t data;
};

// What the release routines saw; plain function pointers cannot carry state.
ObjectTable* releasingTable = nullptr;
std::vector<int64_t> releasedNumbers;
std::vector<int64_t> dynamicNumbers;

void ReleaseAndRecord(int64_t number) {
    releasedNumbers.push_back(number);
    ObjectRelease(releasingTable, number);
}

// A careless owner that scribbles on the record instead of releasing it.
void ScribbleAndRecord(int64_t number) {
    releasedNumbers.push_back(number);
    if (auto* record = static_cast<Record*>(ObjectFromNumber(releasingTable, number)))
        record->data = 0x5a5a;
}

// Releases the -1 record created after the one visited, as closing a child with its parent.
void ReleaseItAndTheNextNewer(int64_t number) {
    ReleaseAndRecord(number);
    for (size_t i = 0; i + 1 < dynamicNumbers.size(); ++i) {
        if (dynamicNumbers[i] == number) ObjectRelease(releasingTable, dynamicNumbers[i + 1]);
    }
}

// Makes a record live, as an owner does once its platform object exists.
Record* MakeLive(ObjectTable* table, int64_t number, int64_t value) {
    auto* record = static_cast<Record*>(ObjectGetOrCreate(table, number));
    if (record == nullptr) return nullptr;
    record->platformObject = value;
    record->data = value * 10;
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
    void TearDown() override {
        ObjectTableFree(table_);
        releasedNumbers.clear();
        dynamicNumbers.clear();
        MemoryInjectFailures(0, 0);
    }
    ObjectTable* Make(ObjectReleaseRoutine routine, int32_t growthStep = 8) {
        ObjectTableFree(table_);
        releasedNumbers.clear();
        table_ = releasingTable = ObjectTableCreate(sizeof(Record), growthStep, routine);
        return table_;
    }
    // Adds `count` live -1 records and remembers their numbers in dynamicNumbers.
    void AddDynamic(int count) {
        for (int i = 0; i < count; ++i) {
            Record* record = MakeLive(table_, kNewObjectNumber, 100 + i);
            ASSERT_NE(record, nullptr);
            dynamicNumbers.push_back(ObjectNumberOf(record));
        }
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
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->platformObject, number + 1);
    }
    EXPECT_EQ(ObjectFromNumber(table, 6), nullptr);  // a slot never created
    // Numbers below -1 or too large for any slot array are refused.
    for (int64_t wrong : {int64_t{-2}, INT64_MIN, INT64_MAX, int64_t{1} << 45})
        EXPECT_EQ(ObjectGetOrCreate(table, wrong), nullptr) << wrong;
}

// A recreated number is released first (whatever its owner does to it then) and comes back as
// the same zeroed record; a released one is dead, zeroed, and its memory is reused.
TEST_F(ObjectTableTest, RecreatedAndReleasedNumbersComeBackZeroed) {
    for (ObjectReleaseRoutine routine : {ReleaseAndRecord, ScribbleAndRecord}) {
        ObjectTable* table = Make(routine);
        Record* first = MakeLive(table, 3, 77);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(ObjectGetOrCreate(table, 3), first);
        EXPECT_EQ(releasedNumbers, std::vector<int64_t>{3});
        EXPECT_EQ(first->platformObject | first->data, 0);
    }
    ObjectTable* table = Make(nullptr);
    Record* record = MakeLive(table, 2, 5);
    ASSERT_NE(record, nullptr);
    ObjectRelease(table, 2);
    EXPECT_EQ(ObjectFromNumber(table, 2), nullptr);
    EXPECT_EQ(record->data, 0);  // the whole record is zeroed, not only its first word
    EXPECT_EQ(MakeLive(table, 2, 6), record);
    ObjectRelease(table, 1);      // a slot without a record
    ObjectRelease(table, 12345);  // neither a slot nor a -1 record
    EXPECT_EQ(ObjectFromNumber(table, 2), record);
}

TEST_F(ObjectTableTest, NewObjectsAreNumberedByTheirAddress) {
    ObjectTable* table = Make(nullptr);
    auto* first = static_cast<Record*>(ObjectGetOrCreate(table, kNewObjectNumber));
    auto* second = static_cast<Record*>(ObjectGetOrCreate(table, kNewObjectNumber));
    ASSERT_TRUE(first && second);
    const int64_t firstNumber = ObjectNumberOf(first);
    const int64_t secondNumber = ObjectNumberOf(second);
    EXPECT_NE(firstNumber, secondNumber);
    EXPECT_GE(std::min(firstNumber, secondNumber), ObjectTableSlotCount(table));

    EXPECT_EQ(ObjectFromNumber(table, firstNumber), nullptr);  // not live until its object is set
    first->platformObject = 1;
    second->platformObject = 2;
    EXPECT_EQ(ObjectFromNumber(table, firstNumber), first);
    // Addresses that are not records of this table, including one inside a record.
    Record stranger{1, 1};
    for (int64_t wrong : {ObjectNumberOf(&stranger), firstNumber + 8, int64_t{-1}, int64_t{-7}})
        EXPECT_EQ(ObjectFromNumber(table, wrong), nullptr);

    ObjectRelease(table, firstNumber);
    EXPECT_EQ(ObjectFromNumber(table, secondNumber), second);
}

// Walks and ObjectReleaseAll go up through the slots, then over the new objects oldest first.
TEST_F(ObjectTableTest, WalkAndReleaseAllVisitSlotsThenNewObjectsOldestFirst) {
    ObjectTable* table = Make(ReleaseAndRecord, 4);
    EXPECT_TRUE(Walk(table).empty());
    for (int64_t number : {9, 1, 4, 0})
        ASSERT_NE(MakeLive(table, number, number + 1), nullptr);
    ASSERT_NE(ObjectGetOrCreate(table, 6), nullptr);  // created but never made live
    AddDynamic(4);
    ObjectRelease(table, 4);
    ObjectRelease(table, dynamicNumbers[2]);

    const std::vector<int64_t> expected = {
        0, 1, 9, dynamicNumbers[0], dynamicNumbers[1], dynamicNumbers[3]};
    EXPECT_EQ(Walk(table), expected);
    ObjectReleaseAll(table);
    EXPECT_EQ(releasedNumbers, expected);
    EXPECT_TRUE(Walk(table).empty());

    // The walk survives a release routine that releases records ahead of it.
    Make(ReleaseItAndTheNextNewer);
    dynamicNumbers.clear();
    AddDynamic(4);
    ObjectReleaseAll(table_);
    EXPECT_EQ(releasedNumbers, (std::vector<int64_t>{dynamicNumbers[0], dynamicNumbers[2]}));
    EXPECT_TRUE(Walk(table_).empty());
}

TEST_F(ObjectTableTest, ShortMemoryLeavesTheTableAsItWas) {
    ObjectTable* table = Make(nullptr);
    ASSERT_NE(MakeLive(table, 1, 1), nullptr);
    MemoryInjectFailures(0, 1);  // the larger slot array cannot be had
    EXPECT_EQ(ObjectGetOrCreate(table, 20), nullptr);
    MemoryInjectFailures(1, 1);  // the slot array grows, the record cannot be had
    EXPECT_EQ(ObjectGetOrCreate(table, 20), nullptr);
    MemoryInjectFailures(0, 1);
    EXPECT_EQ(ObjectGetOrCreate(table, kNewObjectNumber), nullptr);
    MemoryInjectFailures(0, 0);
    EXPECT_EQ(Walk(table), std::vector<int64_t>{1});
    EXPECT_NE(ObjectGetOrCreate(table, 20), nullptr);
}

TEST(ListTest, AddsAtTheHeadOrAfterANodeAndRemoves) {
    ListLibraryInit();
    ListNode* head = nullptr;
    // Builds 3 1 2 4: 1 and 3 at the head, 2 after 1, 4 after the last.
    auto* one = static_cast<int*>(ListAddHead(&head, sizeof(int)));
    auto* three = static_cast<int*>(ListAddHead(&head, sizeof(int)));
    auto* two = static_cast<int*>(ListInsertAfter(&head, one, sizeof(int)));
    auto* four = static_cast<int*>(ListInsertAfter(&head, two, sizeof(int)));
    ASSERT_TRUE(one && two && three && four);
    EXPECT_EQ(*one, 0);  // zero-filled
    *one = 1, *two = 2, *three = 3, *four = 4;
    std::vector<int> both;
    for (void* p = ListFirst(head); p != nullptr; p = ListNext(p))
        both.push_back(*static_cast<int*>(p));
    for (void* p = ListLast(head); p != nullptr; p = ListPrevious(p))
        both.push_back(*static_cast<int*>(p));
    EXPECT_EQ(both, (std::vector<int>{3, 1, 2, 4, 4, 2, 1, 3}));
    // Removing the head, a middle node and the tail keeps the links whole.
    for (int* node : {three, two, four})
        ListRemove(&head, node);
    EXPECT_EQ(ListLast(head), one);
    EXPECT_FALSE(ListContains(head, two));
    ListFreeAll(&head);
    EXPECT_EQ(head, nullptr);
}

}  // namespace
