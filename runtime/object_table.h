// Numbered-object tables: records addressed by numbers the program chooses (0 and up, kept in a
// slot array) or by the number -1, which makes a record outside the slots whose address then
// serves as its number. A record is live while its first 8 bytes are non-zero; its owner stores
// a platform object or another non-zero value there. Tables have no lock: one thread uses them.
#pragma once

#include <cstdint>

struct ObjectTable;

// Called with a number whose object must be let go: when that number is created again while
// its slot holds a record, and for every live record in ObjectReleaseAll. It is expected to
// release the object (which zeroes or unlinks the record).
using ObjectReleaseRoutine = void (*)(int64_t number);

// The number that asks ObjectGetOrCreate for a new record outside the slot array.
constexpr int64_t kNewObjectNumber = -1;

// A new table of growthStep null slots holding records of objectSize bytes (at least 8; a
// growthStep below 1 counts as 1), or null when memory is short. releaseRoutine may be null.
ObjectTable* ObjectTableCreate(uint32_t objectSize, int32_t growthStep,
                               ObjectReleaseRoutine releaseRoutine);
// Frees the table with every record and list node it holds, without calling the release
// routine; null is ignored.
void ObjectTableFree(ObjectTable* table);

// The zero-filled record for number, or null when the number is below -1 or memory is short
// (the table is then unchanged). -1 makes a new record whose address is its number. A number
// whose slot already holds a record first has the release routine called for it, and then gets
// the same memory back, zeroed.
void* ObjectGetOrCreate(ObjectTable* table, int64_t number);
// The live record of number, or null. A number outside the slot range is looked up among the
// table's -1 records by address only, so any value may be asked about.
void* ObjectFromNumber(ObjectTable* table, int64_t number);
// Lets a record go: a numbered record is zeroed and keeps its slot for reuse, a -1 record is
// unlinked and freed. Unknown numbers are ignored.
void ObjectRelease(ObjectTable* table, int64_t number);
// Calls the release routine for every record a walk yields; does nothing without a routine.
void ObjectReleaseAll(ObjectTable* table);

// Starts a walk over the table (there is one walk per table at a time).
void ObjectIterateStart(ObjectTable* table);
// The walk's next record and its number in *number: live numbered records in ascending number,
// then the -1 records from oldest to newest; null at the end. Releasing the record just
// returned (or any other) during the walk is safe.
void* ObjectIterateNext(ObjectTable* table, int64_t* number);

// The number that a record made with -1 goes by (its address).
int64_t ObjectNumberOf(const void* record);
// Length of the slot array; numbers below it are slot numbers.
int64_t ObjectTableSlotCount(const ObjectTable* table);
