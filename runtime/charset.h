// Conversions between the runtime's ISO Latin-1 texts and UTF-8, used at the borders to the
// file system and the window system. The one UTF-8 decoder and encoder of the program live
// here; what a malformed byte means differs by caller and is a parameter of the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What the decoder makes of bytes that are not well-formed UTF-8.
enum class Utf8Malformed {
    // Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF): each byte that
    // starts no well-formed sequence is one replaced character of one byte. The window system's
    // strings are read this way.
    ReplaceEachByte,
    // Files: a lead byte cut off by the end of the text and bytes that start nothing (stray
    // continuation bytes, 0xF8 to 0xFF) are dropped; any other lead that starts no well-formed
    // sequence is one replaced character together with the continuation bytes that follow it.
    ReplaceOrDrop,
};

enum class Utf8Outcome { Character, Replaced, Dropped };

// One decoded step: a character (its code point), a replaced character or dropped bytes, and
// how many bytes it took (never 0).
struct Utf8Step {
    Utf8Outcome outcome = Utf8Outcome::Character;
    char32_t codePoint = 0;
    size_t length = 1;
};

// Decodes the sequence at text[index]; index must be inside text.
Utf8Step DecodeUtf8(std::string_view text, size_t index, Utf8Malformed rule);
// Appends the UTF-8 form of a code point (at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t codePoint);

// Converts Latin-1 bytes to UTF-8. On entry *outputCapacity and *inputLength give the room and
// the input size; on return they hold the bytes written and read. Stops when the input is used
// up or the next character does not fit (a two-byte sequence is never split). Adds no zero;
// size the output at 4 × input length + 1 to convert everything.
void Latin1ToUtf8(char* output, int64_t* outputCapacity, const char* input, int64_t* inputLength);
// Converts UTF-8 bytes to Latin-1 by the ReplaceOrDrop rule; characters outside Latin-1 and
// replaced ones become "?". *outputLength receives the bytes written, which never exceed
// inputLength.
void Utf8ToLatin1(char* output, int64_t* outputLength, const char* input, int64_t inputLength);
// A new heap copy of text in UTF-8 with its zero (null reads as empty); free it with
// StringFree. Null when memory runs out.
char* TextToUtf8Copy(const char* text);
