// Feeds arbitrary bytes through the reader's path as a stream split at arbitrary points: line
// cutting, the RMC judge, the coordinate conversion and the viewer script. Whatever arrives:
//   - the positions accepted do not depend on how the stream was split;
//   - no line handed on is longer than the limit or holds a line end or a zero byte, so the
//     reader's memory stays bounded;
//   - the latitude and longitude are plain numbers and the script keeps its eight lines, so
//     nothing from the network can change what the script means.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/rmc_sentence.h"
#include "app/sentence_lines.h"
#include "app/viewer_script.h"
#include "runtime/temp_buffer.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void Collect(const char* line, size_t length, void* context) {
    Check(length <= SentenceLines::kLongestLine);
    Check(std::memchr(line, '\n', length) == nullptr && std::memchr(line, '\0', length) == nullptr);
    Position position;
    if (JudgeRmcLine(line, length, &position)) {
        static_cast<std::vector<Position>*>(context)->push_back(position);
    }
}

// An optional "-", digits, and optionally "." followed by digits.
bool IsPlainNumber(const std::string& text) {
    const size_t sign = text.starts_with("-") ? 1 : 0;
    const size_t point = std::min(text.find_first_not_of("0123456789", sign), text.size());
    if (point == sign) return false;
    return point == text.size() ||
           (text[point] == '.' &&
            text.find_first_not_of("0123456789", point + 1) == std::string::npos);
}

void CheckScript(const Position& position) {
    Check(IsPlainNumber(position.latitude) && IsPlainNumber(position.longitude));
    TempScope scope;
    const std::string script = ComposeViewerScript(
        position.latitude.c_str(), position.longitude.c_str(), 500, "\r\n", scope.start());
    size_t breaks = 0;
    for (size_t at = script.find("\r\n"); at != std::string::npos; at = script.find("\r\n", at + 2))
        ++breaks;
    Check(breaks == 7);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte seeds the split points; the rest is the stream.
    if (size < 1) return 0;
    unsigned seed = data[0];
    const auto* stream = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;

    std::vector<Position> whole;
    SentenceLines oneRead;
    oneRead.Feed(stream, length, Collect, &whole);

    std::vector<Position> pieces;
    SentenceLines manyReads;
    for (size_t at = 0; at < length;) {
        seed = seed * 1103515245u + 12345u;
        const size_t piece = std::min<size_t>(1 + (seed >> 16) % 40, length - at);
        manyReads.Feed(stream + at, piece, Collect, &pieces);
        at += piece;
    }
    Check(whole == pieces);
    for (const Position& position : whole)
        CheckScript(position);
    return 0;
}
