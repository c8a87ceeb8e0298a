// Cuts the received byte stream into NMEA lines, whatever way the bytes were split across
// receives: a serial bridge hands over a sentence in pieces, a hub several in one write.
#pragma once

#include <cstddef>
#include <cstdint>

// One complete line, without its line end; valid only during the callback.
using SentenceLineCallback = void (*)(const char* line, size_t length, void* context);

class SentenceLines {
  public:
    // Longest line content kept (NMEA allows 82 bytes with the line end); longer lines are
    // dropped whole, so memory stays bounded whatever arrives.
    static constexpr size_t kLongestLine = 255;

    // Takes count bytes. Each line that ends in them (at LF; a CR just before it is no part of
    // the line) goes to onLine, in order. Bytes after the last LF wait for the next call. A line
    // that is too long or contains a zero byte is dropped.
    void Feed(const char* bytes, size_t count, SentenceLineCallback onLine, void* context);

  private:
    void Reset();  // starts the next line

    char line_[kLongestLine + 1];  // one more for a CR that may turn out to end the line
    size_t length_ = 0;
    bool dropping_ = false;  // the current line is too long or holds a zero byte
};
