#include "ui/platform/program_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// Used when PATH is not set at all.
constexpr const char* kDefaultSearchPath = "/usr/bin:/bin";

bool IsExecutableFile(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISREG(info.st_mode) && access(path, X_OK) == 0;
}

}  // namespace

bool FindProgramOnPath(const char* name, char* path, size_t capacity) {
    if (name == nullptr || name[0] == '\0' || std::strchr(name, '/') != nullptr) return false;
    const char* searchPath = std::getenv("PATH");
    if (searchPath == nullptr) searchPath = kDefaultSearchPath;
    const size_t nameLength = std::strlen(name);

    for (const char* entry = searchPath; *entry != '\0';) {
        const char* end = std::strchr(entry, ':');
        const size_t entryLength =
            end != nullptr ? static_cast<size_t>(end - entry) : std::strlen(entry);
        // Room for the directory, "/", the name and the zero.
        if (entryLength > 0 && entryLength + 1 + nameLength < capacity) {
            std::memcpy(path, entry, entryLength);
            path[entryLength] = '/';
            std::memcpy(path + entryLength + 1, name, nameLength + 1);
            if (IsExecutableFile(path)) return true;
        }
        if (end == nullptr) break;
        entry = end + 1;
    }
    if (capacity > 0) path[0] = '\0';
    return false;
}
