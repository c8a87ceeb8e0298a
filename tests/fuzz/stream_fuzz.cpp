// Arbitrary bytes through the reader's path, split at arbitrary points: the lines handed on do
// not depend on the split, none is too long or holds a line end or zero, coordinates are plain
// numbers and the script keeps its eight lines (the network cannot change what it means).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <set>
#include <string>

#include "app/rmc_sentence.h"
#include "app/sentence_lines.h"
#include "app/viewer_script.h"
#include "runtime/temp_buffer.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// Appends the line and a line feed, which no line may hold itself.
void Collect(const char* line, size_t length, void* context) {
    Check(length <= SentenceLines::kLongestLine);
    Check(std::memchr(line, '\n', length) == nullptr && std::memchr(line, '\0', length) == nullptr);
    static_cast<std::string*>(context)->append(line, length).push_back('\n');
}

void CheckScript(const Position& position) {
    static const std::regex kPlainNumber("-?[0-9]+(\\.[0-9]*)?");
    Check(std::regex_match(position.latitude, kPlainNumber) &&
          std::regex_match(position.longitude, kPlainNumber));
    TempScope scope;
    const std::string script = ComposeViewerScript(
        position.latitude.c_str(), position.longitude.c_str(), 500, "\r\n", scope.Start());
    Check(std::count(script.begin(), script.end(), '\n') == 7);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte seeds the split points; the rest is the stream.
    if (size < 1) return 0;
    unsigned seed = data[0];
    const auto* stream = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;

    std::string whole;
    SentenceLines oneRead;
    oneRead.Feed(stream, length, Collect, &whole);

    std::string pieces;
    SentenceLines manyReads;
    for (size_t at = 0, piece = 0; at < length; at += piece) {
        seed = seed * 1103515245u + 12345u;
        piece = std::min<size_t>(1 + (seed >> 16) % 40, length - at);
        manyReads.Feed(stream + at, piece, Collect, &pieces);
    }
    Check(whole == pieces);

    // Each line judged once, each distinct position's script composed once.
    std::set<std::string> checked;
    for (size_t at = 0, end = 0; at < whole.size(); at = end + 1) {
        end = whole.find('\n', at);
        Position position;
        if (JudgeRmcLine(whole.data() + at, end - at, &position) &&
            checked.insert(position.latitude + " " + position.longitude).second)
            CheckScript(position);
    }
    return 0;
}
