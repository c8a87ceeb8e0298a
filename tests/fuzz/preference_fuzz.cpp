// Feeds arbitrary bytes to the preference file as the content of a settings file (the first
// byte chooses the flags and the names used), reads and writes it, and checks that a value
// written reads back and that saving is stable: a saved file, saved again with the same
// write, comes out byte-for-byte the same. All files live in a directory made for the run and
// removed at its end.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "runtime/preference_file.h"
#include "runtime/temp_buffer.h"

namespace {

class ScratchDirectory {
  public:
    ScratchDirectory() {
        // A memory file system makes the flush of every save cheap.
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
                              "/navlume-preference-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const char* name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool StartsWithMark(const std::string& bytes) {
    return bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
}

void Check(bool condition) {
    if (!condition) std::abort();
}

const char* const kGroups[] = {"", "Server", "ge", " spaced ", "Stra\xDF\x65", "missing"};
const char* const kKeys[] = {"Server", "PORT", "zoom", "", "\xC4"};

// Reads every probe key of the selected group; a found value never has surrounding blanks.
void ReadProbeKeys() {
    for (const char* key : kKeys) {
        TempScope scope;
        const std::string value = PreferenceReadText(key, "\x01", scope.start());
        Check(TempPosition() == scope.start() + static_cast<int64_t>(value.size()));
        if (!value.empty() && value != "\x01")
            Check(!IsBlank(value.front()) && !IsBlank(value.back()));
        PreferenceReadInteger(key, -1);
    }
}

// A value that survives a save unchanged: no line ends or zeros, no leading blanks.
std::string StableValue(const std::string& bytes) {
    std::string value;
    for (char c : bytes) {
        if (value.size() == 48) break;
        if (c == '\0' || c == '\n' || c == '\r' || (value.empty() && IsBlank(c))) continue;
        value += c;
    }
    return value;
}

std::string ReadBack(const char* key) {
    TempScope scope;
    return PreferenceReadText(key, "<none>", scope.start());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchDirectory scratch;
    static const std::string settings = scratch.File("settings.cfg");
    if (size == 0) return 0;
    const int32_t flags = data[0] & 3;
    const char* group = kGroups[(data[0] >> 2) % std::size(kGroups)];
    const std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);
    const bool marked = StartsWithMark(content);

    WriteBytes(settings, content);
    Check(PreferenceOpenWithFlags(settings.c_str(), flags) != 0);
    ReadProbeKeys();
    PreferenceGroup(group);
    ReadProbeKeys();
    const std::string value = StableValue(content);
    PreferenceWriteText("Fuzz", value.c_str());
    std::string expected = value;
    while (!expected.empty() && IsBlank(expected.back()))
        expected.pop_back();
    Check(ReadBack("fuzz") == expected);
    PreferenceClose();
    const std::string saved = ReadBytes(settings);

    // A Latin-1 file whose first line begins with the three bytes of the UTF-8 mark is read as
    // a marked file once those bytes open the saved file; anything else must be stable.
    if (StartsWithMark(saved) == marked) {
        Check(PreferenceOpenWithFlags(settings.c_str(), flags) != 0);
        PreferenceGroup(group);
        Check(ReadBack("FUZZ") == expected);
        PreferenceWriteText("Fuzz", value.c_str());
        PreferenceClose();
        Check(ReadBytes(settings) == saved);
    }

    // Keys and values with line ends and "=" in them: only memory safety is at stake.
    Check(PreferenceOpenWithFlags(settings.c_str(), flags) != 0);
    PreferenceGroup(content.c_str());
    PreferenceWriteText(content.c_str(), content.c_str());
    PreferenceWriteInteger(value.c_str(), static_cast<int32_t>(size));
    ReadProbeKeys();
    PreferenceClose();
    return 0;
}
