// The temporary string buffer: the growable block in which text results are built.
//
// Every operation that returns a text takes a start position as its last argument, writes its
// result there with a terminating zero and leaves the position on that zero. Callers save the
// position before an expression and restore it afterwards (TempScope does both).
//
// Each thread has a buffer of its own, so texts that one thread is building can never be
// overwritten by another thread. A thread's buffer is created on its first use and freed when
// the thread ends; the main thread's is created by StringSystemInit and freed by StringSystemEnd.
//
// HAZARD: any operation that reserves room may grow the buffer, and growth may move it. Raw
// pointers into the buffer taken before such a call are invalid afterwards; keep a handle
// (TempOffsetOf) or a position instead and turn it back into a pointer when needed.
#pragma once

#include <cstdint>

// Allocates the calling thread's buffer (16 bytes, capacity 16, position 0).
void StringSystemInit();
// Frees the calling thread's buffer; the next use allocates a fresh one.
void StringSystemEnd();

// Current position of the calling thread's buffer.
int64_t TempPosition();
// Moves the position (used to restore a saved position). Negative values count as 0.
void TempSetPosition(int64_t position);

// Makes room for length bytes plus a zero at start and sets the position to start + length.
// Returns base + start, or null when the buffer cannot grow (the position is then unchanged).
// May move the buffer: earlier raw pointers into it are invalid afterwards.
char* TempReserve(int64_t length, int64_t start);
// Appends text at the current position; the position ends on the new zero. A null text writes
// only a zero. May move the buffer.
void TempAppend(const char* text);
// Gives back count bytes of the last reservation (position -= count).
void TempRelease(int64_t count);
// Writes the empty text at start and sets the position there; returns the buffer's base.
char* TempEmptyAt(int64_t start);
// Handle of a pointer inside the used part of the buffer (offset + 1), or 0 when it lies
// outside. A handle survives a move of the buffer.
int64_t TempOffsetOf(const char* pointer);
// Pointer for a handle from TempOffsetOf.
char* TempPointer(int64_t handle);
// base + start, without growing.
char* TempAt(int64_t start);
// Current capacity of the calling thread's buffer (for tests and benchmarks).
int64_t TempCapacity();

// Saves the buffer position on construction and restores it on destruction, so that code
// building a text cannot forget to pop its intermediate results.
//
//   TempScope scope;
//   TempAppend("a"); TempAppend("b");
//   Consume(scope.Text());        // "ab"
class TempScope {
  public:
    TempScope() : start_(TempPosition()) {}
    ~TempScope() { TempSetPosition(start_); }
    TempScope(const TempScope&) = delete;
    TempScope& operator=(const TempScope&) = delete;

    // Position at which this scope's text starts.
    int64_t Start() const { return start_; }
    // The text built since the scope began; valid until the buffer next grows.
    char* Text() const { return TempAt(start_); }

  private:
    int64_t start_;
};
