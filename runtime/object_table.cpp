#include "runtime/object_table.h"

#include <cstring>

#include "runtime/list.h"
#include "runtime/memory_block.h"

struct ObjectTable {
    uint32_t objectSize;
    int32_t growthStep;
    int64_t slotCount;
    void** slots;
    ListNode* dynamicRecords;  // newest at the head
    ObjectReleaseRoutine releaseRoutine;
    int64_t iterationIndex;
    void* iterationRecord;  // next -1 record the walk yields
};

namespace {

constexpr uint32_t kSmallestRecord = 8;  // the liveness word

bool IsLive(const void* record) {
    uint64_t word = 0;
    std::memcpy(&word, record, sizeof(word));
    return word != 0;
}

bool IsSlotNumber(const ObjectTable* table, int64_t number) {
    return number >= 0 && number < table->slotCount;
}

// A number that is not a slot number refers to a -1 record only when one has that address.
void* DynamicRecord(ObjectTable* table, int64_t number) {
    const auto* address = reinterpret_cast<const void*>(static_cast<intptr_t>(number));
    if (!ListContains(table->dynamicRecords, address)) return nullptr;
    return const_cast<void*>(address);
}

// Enlarges the slot array to number + growth step entries; false (table unchanged) when that
// cannot be had.
bool GrowSlots(ObjectTable* table, int64_t number) {
    if (number > INT64_MAX - table->growthStep) return false;
    const int64_t newCount = number + table->growthStep;
    if (newCount > INT64_MAX / static_cast<int64_t>(sizeof(void*))) return false;
    auto** slots =
        static_cast<void**>(MemoryAllocate(newCount * static_cast<int64_t>(sizeof(void*))));
    if (slots == nullptr) return false;
    std::memcpy(slots, table->slots, static_cast<size_t>(table->slotCount) * sizeof(void*));
    MemoryFree(table->slots);
    table->slots = slots;
    table->slotCount = newCount;
    return true;
}

}  // namespace

ObjectTable* ObjectTableCreate(uint32_t objectSize, int32_t growthStep,
                               ObjectReleaseRoutine releaseRoutine) {
    auto* table = static_cast<ObjectTable*>(MemoryAllocate(sizeof(ObjectTable)));
    if (table == nullptr) return nullptr;
    table->objectSize = objectSize < kSmallestRecord ? kSmallestRecord : objectSize;
    table->growthStep = growthStep < 1 ? 1 : growthStep;
    table->slotCount = table->growthStep;
    table->slots =
        static_cast<void**>(MemoryAllocate(table->slotCount * static_cast<int64_t>(sizeof(void*))));
    if (table->slots == nullptr) {
        MemoryFree(table);
        return nullptr;
    }
    table->releaseRoutine = releaseRoutine;
    return table;
}

void ObjectTableFree(ObjectTable* table) {
    if (table == nullptr) return;
    for (int64_t i = 0; i < table->slotCount; ++i)
        MemoryFree(table->slots[i]);
    MemoryFree(table->slots);
    ListFreeAll(&table->dynamicRecords);
    MemoryFree(table);
}

void* ObjectGetOrCreate(ObjectTable* table, int64_t number) {
    if (table == nullptr || number < kNewObjectNumber) return nullptr;
    if (number == kNewObjectNumber) return ListAddHead(&table->dynamicRecords, table->objectSize);
    if (number >= table->slotCount && !GrowSlots(table, number)) return nullptr;

    if (table->slots[number] != nullptr) {
        if (table->releaseRoutine != nullptr) table->releaseRoutine(number);
        // The routine may have grown the table, so the slot is read again. The record is handed
        // out as new, whatever the routine left in it.
        void* record = table->slots[number];
        if (record != nullptr) {
            std::memset(record, 0, table->objectSize);
            return record;
        }
    }
    void* record = MemoryAllocate(table->objectSize);
    if (record == nullptr) return nullptr;
    table->slots[number] = record;
    return record;
}

void* ObjectFromNumber(ObjectTable* table, int64_t number) {
    if (table == nullptr) return nullptr;
    void* record =
        IsSlotNumber(table, number) ? table->slots[number] : DynamicRecord(table, number);
    return record != nullptr && IsLive(record) ? record : nullptr;
}

void ObjectRelease(ObjectTable* table, int64_t number) {
    if (table == nullptr) return;
    if (IsSlotNumber(table, number)) {
        if (table->slots[number] != nullptr)
            std::memset(table->slots[number], 0, table->objectSize);
        return;
    }
    void* record = DynamicRecord(table, number);
    if (record == nullptr) return;
    // A walk that was about to yield this record moves on to the next newer one.
    if (table->iterationRecord == record) table->iterationRecord = ListPrevious(record);
    ListRemove(&table->dynamicRecords, record);
}

void ObjectReleaseAll(ObjectTable* table) {
    if (table == nullptr || table->releaseRoutine == nullptr) return;
    ObjectIterateStart(table);
    int64_t number = 0;
    while (ObjectIterateNext(table, &number) != nullptr)
        table->releaseRoutine(number);
}

void ObjectIterateStart(ObjectTable* table) {
    if (table == nullptr) return;
    table->iterationIndex = 0;
    table->iterationRecord = ListLast(table->dynamicRecords);
}

void* ObjectIterateNext(ObjectTable* table, int64_t* number) {
    if (table == nullptr) return nullptr;
    while (table->iterationIndex < table->slotCount) {
        const int64_t index = table->iterationIndex++;
        void* record = table->slots[index];
        if (record != nullptr && IsLive(record)) {
            if (number != nullptr) *number = index;
            return record;
        }
    }
    // The walk steps past the record before handing it out, so the caller may release it.
    void* record = table->iterationRecord;
    if (record == nullptr) return nullptr;
    table->iterationRecord = ListPrevious(record);
    if (number != nullptr) *number = ObjectNumberOf(record);
    return record;
}

int64_t ObjectNumberOf(const void* record) {
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(record));
}

int64_t ObjectTableSlotCount(const ObjectTable* table) {
    return table == nullptr ? 0 : table->slotCount;
}
