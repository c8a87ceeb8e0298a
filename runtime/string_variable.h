// String variables: slots holding null (the empty text) or a runtime-owned heap copy of a text.
// A block always has room for the text, its zero and 4 spare bytes.
#pragma once

#include <cstdint>

// Copies text into the slot, replacing its block; a null text frees the block and leaves null.
// Returns the text's length + 1 (1 for null). When memory runs out the slot is left null.
int64_t StringAssign(char** slot, const char* text);
// Stores a fresh copy of text in the slot without freeing what was there (a procedure's
// private copy of a parameter). A null text leaves the slot untouched.
void StringCopyNew(char** slot, const char* text);
// Moves the text built in the temporary buffer since saved into the slot and pops the buffer
// back to saved.
void StringAssignFromTemp(char** slot, int64_t saved);
// Frees a block from the functions above (or TextToUtf8Copy); null is ignored.
void StringFree(char* block);

// A string variable local to a procedure: starts null and frees its block when it goes out of
// scope.
class StringVariable {
  public:
    StringVariable() = default;
    explicit StringVariable(const char* text) { StringAssign(&block_, text); }
    ~StringVariable() { StringFree(block_); }
    StringVariable(const StringVariable&) = delete;
    StringVariable& operator=(const StringVariable&) = delete;

    char** Slot() { return &block_; }
    // The held text; never null (an empty variable reads as the empty text).
    const char* Text() const { return block_ != nullptr ? block_ : ""; }
    bool IsNull() const { return block_ == nullptr; }

  private:
    char* block_ = nullptr;
};
