// Conversions between the runtime's ISO Latin-1 texts and UTF-8, used at the borders to the
// file system and the window system.
#pragma once

#include <cstdint>

// Converts Latin-1 bytes to UTF-8. On entry *outputCapacity and *inputLength give the room and
// the input size; on return they hold the bytes written and read. Stops when the input is used
// up or the next character does not fit (a two-byte sequence is never split). Adds no zero;
// size the output at 4 × input length + 1 to convert everything.
void Latin1ToUtf8(char* output, int64_t* outputCapacity, const char* input, int64_t* inputLength);
// Converts UTF-8 bytes to Latin-1; characters outside Latin-1 become "?" and malformed bytes
// are dropped. *outputLength receives the bytes written, which never exceed inputLength.
void Utf8ToLatin1(char* output, int64_t* outputLength, const char* input, int64_t inputLength);
// A new heap copy of text in UTF-8 with its zero (null reads as empty); free it with
// StringFree. Null when memory runs out.
char* TextToUtf8Copy(const char* text);
