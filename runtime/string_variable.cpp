#include "runtime/string_variable.h"

#include <cstdlib>
#include <cstring>

#include "runtime/temp_buffer.h"

namespace {

// Blocks hold the text, its zero and spare bytes for word-sized copies.
constexpr size_t kSpareBytes = 5;

// A new block holding length bytes of text and a zero, or null when memory runs out.
char* NewBlock(const char* text, size_t length) {
    auto* block = static_cast<char*>(std::malloc(length + kSpareBytes));
    if (block == nullptr) return nullptr;
    if (length > 0) std::memcpy(block, text, length);
    block[length] = '\0';
    return block;
}

// Replaces the slot's block. The new block is made before the old one is freed, so a text that
// lies inside the old block is copied correctly.
void ReplaceBlock(char** slot, const char* text, size_t length) {
    char* block = NewBlock(text, length);
    std::free(*slot);
    *slot = block;
}

}  // namespace

int64_t StringAssign(char** slot, const char* text) {
    if (text == nullptr) {
        std::free(*slot);
        *slot = nullptr;
        return 1;
    }
    const size_t length = std::strlen(text);
    ReplaceBlock(slot, text, length);
    return static_cast<int64_t>(length) + 1;
}

void StringCopyNew(char** slot, const char* text) {
    if (text == nullptr) return;
    *slot = NewBlock(text, std::strlen(text));
}

void StringAssignFromTemp(char** slot, int64_t saved) {
    const int64_t position = TempPosition();
    if (saved < 0) saved = 0;
    if (saved > position) saved = position;
    const int64_t length = position - saved;
    ReplaceBlock(slot, TempAt(saved), static_cast<size_t>(length));
    TempSetPosition(saved);
}

void StringFree(char* block) {
    std::free(block);
}
