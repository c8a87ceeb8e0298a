#include "runtime/memory_block.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

// The header keeps the caller's address aligned like malloc's; the size sits in its last 8 bytes.
constexpr size_t kHeaderSize = alignof(std::max_align_t) > 8 ? alignof(std::max_align_t) : 8;

// No platform hands out a terabyte in one block; refusing earlier keeps absurd sizes (an object
// number mistaken for a slot count) from ever reaching the allocator.
constexpr int64_t kLargestBlock = int64_t{1} << 40;

struct InjectedFailures {
    int64_t allowed = 0;
    int64_t failing = 0;
};
thread_local InjectedFailures injected;

// True when the test aid says this allocation must fail.
bool InjectedFailureDue() {
    if (injected.failing <= 0) return false;
    if (injected.allowed > 0) {
        --injected.allowed;
        return false;
    }
    --injected.failing;
    return true;
}

// The size field fills the last 8 bytes of the header, right before the caller's address.
char* SizeField(const void* block) {
    return const_cast<char*>(static_cast<const char*>(block)) - sizeof(int64_t);
}

}  // namespace

void* MemoryAllocate(int64_t size) {
    if (size < 1 || size > kLargestBlock) return nullptr;
    if (InjectedFailureDue()) return nullptr;
    auto* raw = static_cast<char*>(std::calloc(1, kHeaderSize + static_cast<size_t>(size)));
    if (raw == nullptr) return nullptr;
    void* block = raw + kHeaderSize;
    std::memcpy(SizeField(block), &size, sizeof(size));
    return block;
}

void MemoryFree(void* block) {
    if (block == nullptr) return;
    std::free(static_cast<char*>(block) - kHeaderSize);
}

int64_t MemorySize(const void* block) {
    if (block == nullptr) return 0;
    int64_t size = 0;
    std::memcpy(&size, SizeField(block), sizeof(size));
    return size;
}

void MemoryInjectFailures(int64_t allowed, int64_t failing) {
    injected.allowed = allowed;
    injected.failing = failing;
}
