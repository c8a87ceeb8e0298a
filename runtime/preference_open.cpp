// Opening, creating and closing the preference file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "runtime/atomic_file.h"
#include "runtime/charset.h"
#include "runtime/preference_file.h"
#include "runtime/preference_state.h"

namespace {

// Files are read whole with a 32-bit size; anything larger is no settings file.
constexpr off_t kLargestFile = std::numeric_limits<int32_t>::max();

// name made absolute against the current directory, so that the file saved at close is the one
// that was opened even if the directory changes in between. Takes over name; null when memory
// runs out.
char* AbsolutePath(char* name) {
    if (name[0] == '/' || name[0] == '\0') return name;
    char* directory = getcwd(nullptr, 0);
    if (directory == nullptr) return name;  // the name stays relative to the current directory
    const size_t directoryLength = std::strlen(directory);
    const size_t nameLength = std::strlen(name);
    auto* path = static_cast<char*>(std::malloc(directoryLength + nameLength + 2));
    if (path != nullptr) {
        std::memcpy(path, directory, directoryLength);
        path[directoryLength] = '/';
        std::memcpy(path + directoryLength + 1, name, nameLength + 1);
    }
    std::free(directory);
    std::free(name);
    return path;
}

// The file's name in UTF-8 as an absolute path, or null when memory runs out.
char* PathOfName(const char* fileName) {
    char* name = TextToUtf8Copy(fileName);
    return name != nullptr ? AbsolutePath(name) : nullptr;
}

// Opens the settings file for update or, failing that, for reading only. Only a regular file
// counts: a directory, FIFO or device is treated as a file that cannot be opened (and
// O_NONBLOCK keeps a FIFO from stopping the program).
int OpenSettingsFile(const char* path, bool* readOnly) {
    constexpr int kCommon = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    *readOnly = false;
    int descriptor = PreferenceUpdateDenied() ? -1 : open(path, O_RDWR | kCommon);
    if (descriptor < 0) {
        descriptor = open(path, O_RDONLY | kCommon);
        *readOnly = true;
    }
    struct stat status {};
    if (descriptor >= 0 && (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))) {
        close(descriptor);
        descriptor = -1;
    }
    return descriptor;
}

// Reads the whole file into the content block (without the UTF-8 mark, which sets the
// encoding) and parses it. False when the file is too large, cannot be read, or memory runs
// out.
bool ReadContent(int descriptor, PreferenceState& state) {
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || status.st_size < 0 || status.st_size > kLargestFile)
        return false;
    const auto size = static_cast<size_t>(status.st_size);
    auto* block = static_cast<char*>(std::malloc(size + 2));
    if (block == nullptr) return false;
    state.content = block;
    // The file may have shrunk since fstat: the content is what could be read.
    size_t length = 0;
    while (length < size) {
        const ssize_t got = read(descriptor, block + length, size - length);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        length += static_cast<size_t>(got);
    }
    if (length >= 3 && std::memcmp(block, "\xEF\xBB\xBF", 3) == 0) {
        state.encoding = kPreferenceUtf8Encoding;
        length -= 3;
        std::memmove(block, block + 3, length);
    }
    block[length] = '\0';
    block[length + 1] = '\0';
    state.contentLength = length;
    return PreferenceParseContent(state);
}

}  // namespace

int64_t PreferenceOpen(const char* fileName) {
    return PreferenceOpenWithFlags(fileName, 0);
}

int64_t PreferenceOpenWithFlags(const char* fileName, int32_t flags) {
    PreferenceClose();
    char* path = PathOfName(fileName);
    if (path == nullptr) return 0;
    PreferenceState& state = Preferences();
    state.active = true;
    state.path = path;
    bool readOnly = false;
    const int descriptor = OpenSettingsFile(path, &readOnly);
    if (descriptor < 0) {
        // Kept in memory; PreferenceClose creates the file if anything is written.
        state.pending = true;
        return 0;
    }
    const bool read = ReadContent(descriptor, state);
    close(descriptor);
    if (!read) {
        // The file exists but its settings are unknown: never replace it. Reads give their
        // defaults and writes are dropped, as for a read-only file.
        PreferenceStateDiscard();
        state.active = true;
        state.readOnly = true;
        return 0;
    }
    state.readOnly = readOnly;
    state.flags = flags;
    return 1;
}

int64_t PreferenceCreate(const char* fileName) {
    return PreferenceCreateWithFlags(fileName, 0);
}

int64_t PreferenceCreateWithFlags(const char* fileName, int32_t flags) {
    PreferenceClose();
    char* path = PathOfName(fileName);
    if (path == nullptr) return 0;
    // The file itself is written at close, through a temporary file, so that an existing file
    // survives until the new one is complete. Here it is only checked that this will work.
    if (PreferenceUpdateDenied() || !FileCouldBeReplaced(path)) {
        std::free(path);
        return 0;
    }
    PreferenceState& state = Preferences();
    state.active = true;
    state.path = path;
    state.created = true;
    state.flags = flags;
    return 1;
}

void PreferenceClose() {
    PreferenceState& state = Preferences();
    const bool save = state.active && !state.readOnly && state.path != nullptr &&
                      (state.modified || state.created);
    if (save) {
        size_t length = 0;
        char* text = PreferenceRender(state, &length);
        // A failed save is not reported; the old file is still there, unchanged.
        if (text != nullptr) ReplaceFileContents(state.path, text, length);
        std::free(text);
    }
    PreferenceStateDiscard();
}
