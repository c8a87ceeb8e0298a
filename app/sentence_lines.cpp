#include "app/sentence_lines.h"

#include <cstring>

void SentenceLines::Reset() {
    length_ = 0;
    dropping_ = false;
}

void SentenceLines::Feed(const char* bytes, size_t count, SentenceLineCallback onLine,
                         void* context) {
    while (count > 0) {
        const auto* end = static_cast<const char*>(std::memchr(bytes, '\n', count));
        const size_t piece = end != nullptr ? static_cast<size_t>(end - bytes) : count;

        if (!dropping_) {
            // The piece may end in the CR of a CR LF pair, hence room for one byte more.
            if (piece > sizeof line_ - length_ || std::memchr(bytes, '\0', piece) != nullptr) {
                dropping_ = true;
            } else {
                std::memcpy(line_ + length_, bytes, piece);
                length_ += piece;
            }
        }
        if (end == nullptr) return;

        size_t lineLength = length_;
        if (lineLength > 0 && line_[lineLength - 1] == '\r') --lineLength;
        if (!dropping_ && lineLength <= kLongestLine) onLine(line_, lineLength, context);
        Reset();
        bytes = end + 1;
        count -= piece + 1;
    }
}
