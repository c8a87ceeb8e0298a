#include "runtime/object_table.h"

#include <gtest/gtest.h>

#include <cstring>
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

// Releases like an owner does: lets the object go, which zeroes or unlinks the record.
void ReleaseAndRecord(int64_t number) {
    releasedNumbers.push_back(number);
    ObjectRelease(releasingTable, number);
}

// A careless owner that scribbles on the record instead of releasing it.
void ScribbleAndRecord(int64_t number) {
    releasedNumbers.push_back(number);
    auto* record = static_cast<Record*>(ObjectFromNumber(releasingTable, number));
    if (record != nullptr) record->data = 0x5a5a;
}

// Makes a record live, as an owner does once its platform object exists.
Record* MakeLive(ObjectTable* table, int64_t number, int64_t value) {
    auto* record = static_cast<Record*>(ObjectGetOrCreate(table, number));
    if (record == nullptr) return nullptr;
    record->platformObject = value;
    record->data = value * 10;
    return record;
}

// Frees the table however a test ends.
class ObjectTableTest : public ::testing::Test {
  protected:
    void TearDown() override {
        ObjectTableFree(table_);
        releasingTable = nullptr;
        releasedNumbers.clear();
        MemoryInjectFailures(0, 0);
    }
    ObjectTable* Make(ObjectReleaseRoutine routine, int32_t growthStep = 8) {
        table_ = ObjectTableCreate(sizeof(Record), growthStep, routine);
        releasingTable = table_;
        return table_;
    }
    ObjectTable* table_ = nullptr;
};

TEST_F(ObjectTableTest, GrowsOnlyForNumbersBeyondTheSlots) {
    struct Case {
        int64_t number;
        int64_t slotsAfter;
    };
    // Each step builds on the one before; the table starts with 8 slots.
    const Case cases[] = {{5, 8}, {7, 8}, {8, 16}, {15, 16}, {40, 48}, {0, 48}};
    ObjectTable* table = Make(nullptr);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(ObjectTableSlotCount(table), 8);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        ASSERT_NE(MakeLive(table, c.number, c.number + 1), nullptr);
        EXPECT_EQ(ObjectTableSlotCount(table), c.slotsAfter);
    }
    // Growing kept every record in its slot.
    for (const Case& c : cases) {
        auto* record = static_cast<Record*>(ObjectFromNumber(table, c.number));
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->platformObject, c.number + 1);
    }
    EXPECT_EQ(ObjectFromNumber(table, 6), nullptr);  // a slot never created
}

TEST_F(ObjectTableTest, InvalidNumbersAndTinyRecords) {
    ObjectTable* table = ObjectTableCreate(1, 0, nullptr);  // rounds up to 8 bytes and 1 slot
    ASSERT_NE(table, nullptr);
    table_ = table;
    EXPECT_EQ(ObjectTableSlotCount(table), 1);
    EXPECT_EQ(ObjectGetOrCreate(table, -2), nullptr);
    EXPECT_EQ(ObjectGetOrCreate(table, INT64_MIN), nullptr);
    // Numbers whose slot array no memory could hold are refused and leave the table as it was.
    EXPECT_EQ(ObjectGetOrCreate(table, INT64_MAX), nullptr);
    EXPECT_EQ(ObjectGetOrCreate(table, int64_t{1} << 45), nullptr);
    EXPECT_EQ(ObjectTableSlotCount(table), 1);

    void* record = ObjectGetOrCreate(table, 3);
    ASSERT_NE(record, nullptr);
    EXPECT_GE(MemorySize(record), 8);
    EXPECT_EQ(ObjectTableSlotCount(table), 4);  // 3 + a growth step of 1
}

TEST_F(ObjectTableTest, RecreatingANumberReleasesItAndHandsBackTheSameZeroedRecord) {
    const ObjectReleaseRoutine routines[] = {ReleaseAndRecord, ScribbleAndRecord};
    for (ObjectReleaseRoutine routine : routines) {
        ObjectTableFree(table_);
        releasedNumbers.clear();
        ObjectTable* table = Make(routine);
        Record* first = MakeLive(table, 3, 77);
        ASSERT_NE(first, nullptr);

        auto* again = static_cast<Record*>(ObjectGetOrCreate(table, 3));
        EXPECT_EQ(again, first);
        EXPECT_EQ(releasedNumbers, std::vector<int64_t>{3});
        EXPECT_EQ(again->platformObject, 0);
        EXPECT_EQ(again->data, 0);
    }
}

TEST_F(ObjectTableTest, ReleasedNumberIsDeadAndItsMemoryIsReused) {
    ObjectTable* table = Make(nullptr);
    Record* record = MakeLive(table, 2, 5);
    ASSERT_NE(record, nullptr);
    ObjectRelease(table, 2);
    EXPECT_EQ(ObjectFromNumber(table, 2), nullptr);
    EXPECT_EQ(record->data, 0);  // the whole record is zeroed, not only its first word

    EXPECT_EQ(MakeLive(table, 2, 6), record);
    EXPECT_EQ(ObjectFromNumber(table, 2), record);
    ObjectRelease(table, 1);      // a slot without a record
    ObjectRelease(table, 12345);  // neither a slot nor a -1 record
    EXPECT_EQ(ObjectFromNumber(table, 2), record);
}

TEST_F(ObjectTableTest, NewObjectsAreNumberedByTheirAddress) {
    ObjectTable* table = Make(nullptr);
    auto* first = static_cast<Record*>(ObjectGetOrCreate(table, kNewObjectNumber));
    auto* second = static_cast<Record*>(ObjectGetOrCreate(table, kNewObjectNumber));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->platformObject, 0);  // zero-filled
    const int64_t firstNumber = ObjectNumberOf(first);
    const int64_t secondNumber = ObjectNumberOf(second);
    EXPECT_NE(firstNumber, secondNumber);
    EXPECT_GE(firstNumber, ObjectTableSlotCount(table));
    EXPECT_GE(secondNumber, ObjectTableSlotCount(table));

    // Not live until the owner stores its object.
    EXPECT_EQ(ObjectFromNumber(table, firstNumber), nullptr);
    first->platformObject = 1;
    second->platformObject = 2;
    EXPECT_EQ(ObjectFromNumber(table, firstNumber), first);
    EXPECT_EQ(ObjectFromNumber(table, secondNumber), second);

    // Addresses that are not records of this table, including one inside a record.
    Record stranger{1, 1};
    EXPECT_EQ(ObjectFromNumber(table, ObjectNumberOf(&stranger)), nullptr);
    EXPECT_EQ(ObjectFromNumber(table, firstNumber + 8), nullptr);
    EXPECT_EQ(ObjectFromNumber(table, -1), nullptr);
    EXPECT_EQ(ObjectFromNumber(table, -7), nullptr);

    ObjectRelease(table, firstNumber);
    EXPECT_EQ(ObjectFromNumber(table, firstNumber), nullptr);
    EXPECT_EQ(ObjectFromNumber(table, secondNumber), second);
}

// The numbers a full walk yields.
std::vector<int64_t> Walk(ObjectTable* table) {
    std::vector<int64_t> numbers;
    ObjectIterateStart(table);
    int64_t number = 0;
    for (int guard = 0; guard < 1000 && ObjectIterateNext(table, &number) != nullptr; ++guard) {
        numbers.push_back(number);
    }
    return numbers;
}

TEST_F(ObjectTableTest, WalkGoesUpThroughTheSlotsThenOldestNewObjectFirst) {
    ObjectTable* table = Make(nullptr, 4);
    EXPECT_TRUE(Walk(table).empty());
    for (int64_t number : {9, 1, 4, 0})
        ASSERT_NE(MakeLive(table, number, number + 1), nullptr);
    ASSERT_NE(ObjectGetOrCreate(table, 6), nullptr);  // created but never made live
    std::vector<int64_t> dynamic;
    for (int i = 0; i < 3; ++i) {
        Record* record = MakeLive(table, kNewObjectNumber, 100 + i);
        ASSERT_NE(record, nullptr);
        dynamic.push_back(ObjectNumberOf(record));
    }
    ObjectRelease(table, 4);

    const std::vector<int64_t> expected = {0, 1, 9, dynamic[0], dynamic[1], dynamic[2]};
    EXPECT_EQ(Walk(table), expected);
}

TEST_F(ObjectTableTest, ReleaseAllReachesEveryLiveRecord) {
    ObjectTable* table = Make(ReleaseAndRecord);
    for (int64_t number : {2, 11})
        ASSERT_NE(MakeLive(table, number, 1), nullptr);
    std::vector<int64_t> dynamic;
    for (int i = 0; i < 3; ++i) {
        Record* record = MakeLive(table, kNewObjectNumber, 1);
        ASSERT_NE(record, nullptr);
        dynamic.push_back(ObjectNumberOf(record));
    }

    ObjectReleaseAll(table);
    const std::vector<int64_t> expected = {2, 11, dynamic[0], dynamic[1], dynamic[2]};
    EXPECT_EQ(releasedNumbers, expected);
    EXPECT_TRUE(Walk(table).empty());
    for (int64_t number : expected)
        EXPECT_EQ(ObjectFromNumber(table, number), nullptr);
}

// Releases the -1 record created after the one being visited, as an owner closing a child
// along with its parent would.
std::vector<int64_t> dynamicNumbers;
void ReleaseItAndTheNextNewer(int64_t number) {
    releasedNumbers.push_back(number);
    ObjectRelease(releasingTable, number);
    for (size_t i = 0; i + 1 < dynamicNumbers.size(); ++i) {
        if (dynamicNumbers[i] == number) ObjectRelease(releasingTable, dynamicNumbers[i + 1]);
    }
}

TEST_F(ObjectTableTest, WalkSurvivesReleasingRecordsAheadOfIt) {
    ObjectTable* table = Make(ReleaseItAndTheNextNewer);
    dynamicNumbers.clear();
    for (int i = 0; i < 4; ++i) {
        Record* record = MakeLive(table, kNewObjectNumber, 1);
        ASSERT_NE(record, nullptr);
        dynamicNumbers.push_back(ObjectNumberOf(record));
    }
    ObjectReleaseAll(table);
    const std::vector<int64_t> expected = {dynamicNumbers[0], dynamicNumbers[2]};
    EXPECT_EQ(releasedNumbers, expected);
    EXPECT_TRUE(Walk(table).empty());
}

TEST_F(ObjectTableTest, ReleaseAllWithoutARoutineDoesNothing) {
    ObjectTable* table = Make(nullptr);
    ASSERT_NE(MakeLive(table, 1, 1), nullptr);
    ObjectReleaseAll(table);
    EXPECT_NE(ObjectFromNumber(table, 1), nullptr);
}

TEST_F(ObjectTableTest, ShortMemoryLeavesTheTableAsItWas) {
    ObjectTable* table = Make(nullptr);
    ASSERT_NE(MakeLive(table, 1, 1), nullptr);

    MemoryInjectFailures(0, 1);  // the larger slot array cannot be had
    EXPECT_EQ(ObjectGetOrCreate(table, 20), nullptr);
    EXPECT_EQ(ObjectTableSlotCount(table), 8);

    MemoryInjectFailures(1, 1);  // the slot array grows, the record cannot be had
    EXPECT_EQ(ObjectGetOrCreate(table, 20), nullptr);
    MemoryInjectFailures(0, 1);
    EXPECT_EQ(ObjectGetOrCreate(table, kNewObjectNumber), nullptr);
    MemoryInjectFailures(0, 0);

    EXPECT_EQ(Walk(table), std::vector<int64_t>{1});
    EXPECT_NE(ObjectGetOrCreate(table, 20), nullptr);
}

TEST(ListTest, AddsAtTheHeadOrAfterANode) {
    ListLibraryInit();
    ListNode* head = nullptr;
    EXPECT_EQ(ListFirst(head), nullptr);
    EXPECT_EQ(ListLast(head), nullptr);

    // Builds 3 1 2 4: 1 and 3 at the head, 2 after 1, 4 after the last.
    auto* one = static_cast<int*>(ListAddHead(&head, sizeof(int)));
    auto* three = static_cast<int*>(ListAddHead(&head, sizeof(int)));
    auto* two = static_cast<int*>(ListInsertAfter(&head, one, sizeof(int)));
    auto* four = static_cast<int*>(ListInsertAfter(&head, two, sizeof(int)));
    ASSERT_TRUE(one && two && three && four);
    EXPECT_EQ(*one, 0);  // zero-filled
    *one = 1, *two = 2, *three = 3, *four = 4;

    std::vector<int> forward;
    for (void* p = ListFirst(head); p != nullptr; p = ListNext(p)) {
        forward.push_back(*static_cast<int*>(p));
    }
    std::vector<int> backward;
    for (void* p = ListLast(head); p != nullptr; p = ListPrevious(p)) {
        backward.push_back(*static_cast<int*>(p));
    }
    EXPECT_EQ(forward, (std::vector<int>{3, 1, 2, 4}));
    EXPECT_EQ(backward, (std::vector<int>{4, 2, 1, 3}));

    // Removing the head, a middle node and the tail keeps the links whole.
    ListRemove(&head, three);
    ListRemove(&head, two);
    ListRemove(&head, four);
    EXPECT_EQ(ListFirst(head), one);
    EXPECT_EQ(ListLast(head), one);
    EXPECT_TRUE(ListContains(head, one));
    EXPECT_FALSE(ListContains(head, two));
    ListFreeAll(&head);
    EXPECT_EQ(head, nullptr);
}

}  // namespace
