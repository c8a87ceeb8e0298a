// Feeds arbitrary bytes as one received chunk through the tracker's path: the sentence test,
// the fields, the coordinate conversion and the viewer script. Whatever arrives, the values in
// the script's latitude and longitude lines must be plain numbers, so that nothing from the
// network can change what the script means.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/chunk_position.h"
#include "app/viewer_script.h"
#include "runtime/string_variable.h"
#include "runtime/temp_buffer.h"
#include "runtime/text_ops.h"

namespace {

constexpr size_t kReceiveSize = 128;

// An optional "-", digits, and optionally "." followed by digits.
bool IsPlainNumber(const std::string& text) {
    size_t i = 0;
    if (i < text.size() && text[i] == '-') ++i;
    const size_t digits = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i;
    if (i == digits) return false;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
    }
    return i == text.size();
}

// The value after the fixed text of a script line, which must end at the line break.
std::string LineValue(const std::string& script, const std::string& prefix) {
    const size_t at = script.find(prefix);
    if (at == std::string::npos) std::abort();
    const size_t begin = at + prefix.size();
    const size_t end = script.find("\r\n", begin);
    if (end == std::string::npos) std::abort();
    return script.substr(begin, end - begin);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One receive: at most 128 bytes, ending early at a zero byte.
    TempScope scope;
    const char* chunk = TextFromMemory(
        data, static_cast<int64_t>(size < kReceiveSize ? size : kReceiveSize), scope.start());
    StringVariable chunkText(chunk);

    StringVariable latitude;
    StringVariable longitude;
    if (!PositionFromChunk(chunkText.text(), &latitude, &longitude)) return 0;

    const std::string script =
        ComposeViewerScript(latitude.text(), longitude.text(), 500, "\r\n", TempPosition());
    if (!IsPlainNumber(LineValue(script, "set latitude of viewInfo To ")) ||
        !IsPlainNumber(LineValue(script, "set longitude of viewInfo To "))) {
        std::abort();
    }
    // Exactly the eight lines: no line break can come in with a value.
    size_t breaks = 0;
    for (size_t at = script.find("\r\n"); at != std::string::npos;
         at = script.find("\r\n", at + 2)) {
        ++breaks;
    }
    if (breaks != 7) std::abort();
    return 0;
}
