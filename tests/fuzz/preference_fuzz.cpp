// Arbitrary bytes as a settings file (the first byte: flags and group): written values read back.
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>

#include "runtime/preference_file.h"
#include "runtime/preference_state.h"
#include "runtime/temp_buffer.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads probe keys, "fuzz" last, and gives its value; no value has surrounding blanks.
std::string ReadProbeKeys() {
    std::string value;
    for (const char* key : {"Server", "PORT", "zoom", "", "\xC4", "fuzz"}) {
        TempScope scope;
        value = PreferenceReadText(key, "", scope.Start());
        Check(TempPosition() == scope.Start() + static_cast<int64_t>(value.size()));
        Check(value.empty() || (!IsBlank(value.front()) && !IsBlank(value.back())));
        PreferenceReadInteger(key, -1);
    }
    return value;
}

// The text that a save of the open state would write.
std::string Rendered() {
    size_t length = 0;
    char* text = PreferenceRender(Preferences(), &length);
    Check(text != nullptr);
    const std::string rendered(text, length);
    std::free(text);
    return rendered;
}

// Opens content, writes value to "Fuzz" in group, checks it reads back; the text a save writes.
std::string WriteAndRender(const std::string& content, int32_t flags, const char* group,
                           std::string value) {
    Check(PreferenceOpenBytes(content.data(), content.size(), flags) != 0);
    PreferenceGroup(group);
    ReadProbeKeys();
    PreferenceWriteText("Fuzz", value.c_str());
    while (!value.empty() && IsBlank(value.back()))
        value.pop_back();
    Check(ReadProbeKeys() == value);
    return Rendered();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kGroups[] = {"", "Server", "ge", " spaced ", "Stra\xDF\x65", "none"};
    if (size == 0) return 0;
    const int32_t flags = data[0] & 3;
    const char* group = kGroups[(data[0] >> 2) % std::size(kGroups)];
    const std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);
    // A value that survives a save unchanged: no line ends or zeros, no leading blanks.
    std::string value;
    for (char c : content)
        if (value.size() < 48 && c != '\0' && c != '\n' && c != '\r' &&
            (!value.empty() || !IsBlank(c)))
            value += c;
    const std::string saved = WriteAndRender(content, flags, group, value);
    // A save is stable, but for a Latin-1 file whose first bytes become the UTF-8 mark.
    const auto marked = [](const std::string& bytes) { return bytes.starts_with("\xEF\xBB\xBF"); };
    if (marked(saved) == marked(content))
        Check(WriteAndRender(saved, flags, group, value) == saved);
    // Keys and values with line ends and "=" in them: only memory safety is at stake.
    PreferenceGroup(content.c_str());
    PreferenceWriteText(content.c_str(), content.c_str());
    PreferenceWriteInteger(value.c_str(), static_cast<int32_t>(size));
    ReadProbeKeys();
    Rendered();
    PreferenceClose();
    return 0;
}
