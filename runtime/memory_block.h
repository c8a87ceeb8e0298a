// Sized memory blocks: every block carries its requested size in a hidden signed 64-bit field
// just before the address the caller sees. Blocks are zero-filled and aligned for any type.
#pragma once

#include <cstdint>

// A zero-filled block of size bytes, or null when size < 1 or memory is short.
void* MemoryAllocate(int64_t size);
// Frees a block from MemoryAllocate; null is ignored.
void MemoryFree(void* block);
// The size a block was requested with; 0 for null.
int64_t MemorySize(const void* block);

// Test aid: on the calling thread, let the next `allowed` allocations succeed and make the
// `failing` ones after them fail as if memory were short. MemoryInjectFailures(0, 0) ends it.
void MemoryInjectFailures(int64_t allowed, int64_t failing);
