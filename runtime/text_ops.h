// Text operations on NUL-terminated 8-bit (ISO Latin-1) texts. A null text reads as the empty
// text; positions and field numbers count from 1; out-of-range counts and positions are
// clamped, never rejected.
//
// Operations that return a text write it into the temporary buffer at start (their last
// argument), leave the buffer position on its zero and return a pointer to it. They may grow
// and so move the buffer: raw pointers into it taken earlier are invalid afterwards. A source
// text that lies inside the buffer is handled correctly.
#pragma once

#include <cstdint>

// Mode bit for TextSearch: compare letters without regard to case.
constexpr int32_t kTextIgnoreCase = 1;

// Number of bytes before the zero; 0 for null.
int32_t TextLength(const char* text);
// 1 when a and b are byte-for-byte equal (case matters), else 0.
int32_t TextCompare(const char* a, const char* b);
// 1-based position of the first occurrence of needle in text, or 0. Empty texts find nothing.
int32_t TextFind(const char* text, const char* needle);
// Like TextFind, searching from character start (values below 1 start at 1).
int32_t TextFindFrom(const char* text, const char* needle, int32_t start);
// The search underneath: from character start, exact or ignoring case (kTextIgnoreCase).
int32_t TextSearch(const char* text, const char* needle, int32_t start, int32_t mode);

// The first count characters of text.
char* TextLeft(const char* text, int32_t count, int64_t start);
// count characters of text from position first (first below 1 starts at 1).
char* TextMid(const char* text, int32_t first, int32_t count, int64_t start);
// Everything from position first to the end.
char* TextMidToEnd(const char* text, int32_t first, int64_t start);
// The index-th field of text between occurrences of separator (empty fields count).
char* TextField(const char* text, int32_t index, const char* separator, int64_t start);
// The bytes at address, up to length of them or the first zero byte; length -1 reads up to the
// first zero byte, other negative lengths count as 0.
char* TextFromMemory(const void* address, int64_t length, int64_t start);
