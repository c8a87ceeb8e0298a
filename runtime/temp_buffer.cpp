#include "runtime/temp_buffer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr int64_t kInitialCapacity = 16;
// Growth overshoots the immediate need by this much so that repeated concatenation (the viewer
// script, every received chunk) rarely reallocates.
constexpr int64_t kGrowthStep = 16384;
// Blocks carry spare bytes beyond their capacity, so that the zero written at a position equal
// to the capacity (the highest TempSetPosition and TempAt allow) still lies inside the block.
constexpr int64_t kSpareBytes = 5;
// Sizes are computed as 32-bit values; a need beyond that range means the buffer cannot grow.
constexpr int64_t kLargestNeed = std::numeric_limits<int32_t>::max() - kGrowthStep - kSpareBytes;

struct TempBuffer {
    char* base = nullptr;
    int64_t position = 0;
    int64_t capacity = 0;

    TempBuffer() = default;
    TempBuffer(const TempBuffer&) = delete;
    TempBuffer& operator=(const TempBuffer&) = delete;
    // Runs when the owning thread ends, so no thread's buffer outlives it.
    ~TempBuffer() { Release(); }

    void Allocate() {
        Release();
        base = static_cast<char*>(std::malloc(kInitialCapacity + kSpareBytes));
        if (base != nullptr) {
            base[0] = '\0';
            capacity = kInitialCapacity;
        }
    }

    void Release() {
        std::free(base);
        base = nullptr;
        position = 0;
        capacity = 0;
    }
};

thread_local TempBuffer tempBuffer;
// What readers get when the buffer could not even be allocated: an empty text.
thread_local char emptyText[1] = {'\0'};

TempBuffer& Buffer() {
    if (tempBuffer.base == nullptr) tempBuffer.Allocate();
    return tempBuffer;
}

}  // namespace

void StringSystemInit() {
    tempBuffer.Allocate();
}

void StringSystemEnd() {
    tempBuffer.Release();
}

int64_t TempPosition() {
    return Buffer().position;
}

void TempSetPosition(int64_t position) {
    TempBuffer& buffer = Buffer();
    if (position < 0) position = 0;
    if (position > buffer.capacity) position = buffer.capacity;
    buffer.position = position;
}

int64_t TempCapacity() {
    return Buffer().capacity;
}

char* TempReserve(int64_t length, int64_t start) {
    TempBuffer& buffer = Buffer();
    if (buffer.base == nullptr || start < 0 || start > kLargestNeed) return nullptr;
    if (length < 0) length = 0;
    // The room must cover both the current position and the requested start, so that a caller
    // that starts past the position can never write beyond the block.
    const int64_t from = start > buffer.position ? start : buffer.position;
    if (length > kLargestNeed - from) return nullptr;
    const int64_t needed = from + length;
    if (needed >= buffer.capacity - 4) {
        const int64_t capacity = needed + kGrowthStep;
        void* grown = std::realloc(buffer.base, static_cast<size_t>(capacity + kSpareBytes));
        if (grown == nullptr) return nullptr;
        buffer.base = static_cast<char*>(grown);
        buffer.capacity = capacity;
    }
    buffer.position = start + length;
    return buffer.base + start;
}

void TempAppend(const char* text) {
    TempBuffer& buffer = Buffer();
    if (text == nullptr) {
        if (buffer.base != nullptr) buffer.base[buffer.position] = '\0';
        return;
    }
    const int64_t length = static_cast<int64_t>(std::strlen(text));
    // text may lie inside the buffer, which the reservation can move.
    const int64_t handle = TempOffsetOf(text);
    char* destination = TempReserve(length, buffer.position);
    if (destination == nullptr) return;
    const char* source = handle != 0 ? TempPointer(handle) : text;
    std::memmove(destination, source, static_cast<size_t>(length));
    destination[length] = '\0';
}

void TempRelease(int64_t count) {
    TempSetPosition(Buffer().position - count);
}

char* TempEmptyAt(int64_t start) {
    char* destination = TempReserve(0, start);
    if (destination == nullptr) return TempAt(0);
    destination[0] = '\0';
    return tempBuffer.base;
}

int64_t TempOffsetOf(const char* pointer) {
    const TempBuffer& buffer = Buffer();
    if (buffer.base == nullptr || pointer == nullptr) return 0;
    const auto address = reinterpret_cast<uintptr_t>(pointer);
    const auto first = reinterpret_cast<uintptr_t>(buffer.base);
    if (address < first || address > first + static_cast<uintptr_t>(buffer.position)) return 0;
    return static_cast<int64_t>(address - first) + 1;
}

char* TempPointer(int64_t handle) {
    TempBuffer& buffer = Buffer();
    if (buffer.base == nullptr || handle <= 0) return nullptr;
    return buffer.base + (handle - 1);
}

char* TempAt(int64_t start) {
    TempBuffer& buffer = Buffer();
    if (buffer.base == nullptr || start < 0 || start > buffer.capacity) return emptyText;
    return buffer.base + start;
}
