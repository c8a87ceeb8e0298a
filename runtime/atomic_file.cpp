#include "runtime/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The kernel gives up on a path after 40 links; so does the resolution here.
constexpr int kLinkLimit = 40;
// A name clash with another writer's temporary file is retried with a new name this often.
constexpr int kNameAttempts = 64;
// The temporary name repeats at most this much of the file's name, so that it stays well within
// the file system's limit on one name.
constexpr size_t kKeptNameBytes = 96;
// Link texts longer than this are not followed.
constexpr size_t kLongestLink = size_t{1} << 20;

char* CopyBytes(const char* text, size_t length) {
    auto* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return copy;
}

// The directory that holds path: everything before its last "/", "/" for a file in the root
// and "." for a bare name.
char* DirectoryOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return CopyBytes(".", 1);
    if (slash == path) return CopyBytes("/", 1);
    return CopyBytes(path, static_cast<size_t>(slash - path));
}

// The last name of path: everything after its last "/".
const char* NameOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? path : slash + 1;
}

bool IsUsableName(const char* name) {
    return name[0] != '\0' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

// directory "/" name as a new heap text.
char* JoinPath(const char* directory, const char* name) {
    const size_t directoryLength = std::strlen(directory);
    const size_t nameLength = std::strlen(name);
    auto* joined = static_cast<char*>(std::malloc(directoryLength + nameLength + 2));
    if (joined == nullptr) return nullptr;
    std::memcpy(joined, directory, directoryLength);
    joined[directoryLength] = '/';
    std::memcpy(joined + directoryLength + 1, name, nameLength);
    joined[directoryLength + 1 + nameLength] = '\0';
    return joined;
}

// The text of the link at path, or null.
char* ReadLinkText(const char* path, off_t reportedSize) {
    size_t room = reportedSize > 0 ? static_cast<size_t>(reportedSize) + 1 : 256;
    while (room <= kLongestLink) {
        auto* text = static_cast<char*>(std::malloc(room));
        if (text == nullptr) return nullptr;
        const ssize_t length = readlink(path, text, room);
        if (length < 0) {
            std::free(text);
            return nullptr;
        }
        if (static_cast<size_t>(length) < room) {
            text[length] = '\0';
            return text;
        }
        std::free(text);  // the link may have grown since lstat: try again with more room
        room *= 2;
    }
    return nullptr;
}

// A name for a temporary file beside target that no other writer is likely to choose.
char* TemporaryNameFor(const char* directory, const char* name, unsigned attempt) {
    static unsigned counter = 0;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const unsigned long long stamp = static_cast<unsigned long long>(now.tv_nsec) ^
                                     (static_cast<unsigned long long>(now.tv_sec) << 30);
    char suffix[80];
    std::snprintf(suffix, sizeof suffix, ".tmp-%lx-%x-%llx", static_cast<unsigned long>(getpid()),
                  counter++ + attempt, stamp);
    const size_t nameLength = strnlen(name, kKeptNameBytes);
    const size_t directoryLength = std::strlen(directory);
    const size_t suffixLength = std::strlen(suffix);
    // directory "/." name suffix zero
    auto* path =
        static_cast<char*>(std::malloc(directoryLength + 2 + nameLength + suffixLength + 1));
    if (path == nullptr) return nullptr;
    char* out = path;
    std::memcpy(out, directory, directoryLength);
    out += directoryLength;
    *out++ = '/';
    *out++ = '.';
    std::memcpy(out, name, nameLength);
    out += nameLength;
    std::memcpy(out, suffix, suffixLength + 1);
    return path;
}

// Creates a new temporary file beside target (never an existing one: O_EXCL) and returns its
// descriptor, with its name in *temporaryPath; -1 when none can be made.
int CreateTemporaryBeside(const char* target, mode_t mode, char** temporaryPath) {
    *temporaryPath = nullptr;
    const char* name = NameOf(target);
    if (!IsUsableName(name)) return -1;
    char* directory = DirectoryOf(target);
    if (directory == nullptr) return -1;
    int descriptor = -1;
    for (int attempt = 0; attempt < kNameAttempts && descriptor < 0; ++attempt) {
        char* candidate = TemporaryNameFor(directory, name, static_cast<unsigned>(attempt));
        if (candidate == nullptr) break;
        descriptor = open(candidate, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
        if (descriptor >= 0) {
            *temporaryPath = candidate;
        } else {
            std::free(candidate);
            if (errno != EEXIST) break;
        }
    }
    std::free(directory);
    return descriptor;
}

bool WriteAll(int descriptor, const char* bytes, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t written = write(descriptor, bytes + done, length - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;  // EFBIG, ENOSPC, EIO ...
        done += static_cast<size_t>(written);
    }
    return true;
}

// Gives the new file the old one's permission bits, and its owner and group where the process
// may (only the superuser may give a file away; failing that the file stays the writer's).
bool TakeOverOwnerAndMode(int descriptor, const struct stat& old) {
    struct stat now {};
    if (fstat(descriptor, &now) != 0) return false;
    if (now.st_uid != old.st_uid || now.st_gid != old.st_gid) {
        if (fchown(descriptor, old.st_uid, old.st_gid) != 0) {
            // Not allowed to give the file away: the group alone may still carry over.
            const int groupOnly = fchown(descriptor, static_cast<uid_t>(-1), old.st_gid);
            static_cast<void>(groupOnly);
        }
    }
    // Changing the owner may clear set-id bits, so the mode comes last; the file was created
    // with the old permission bits, which the umask may have narrowed.
    if ((now.st_mode & 07777) == (old.st_mode & 07777)) return true;
    return fchmod(descriptor, old.st_mode & 07777) == 0;
}

// Flushes the directory entry of a finished rename, where the file system allows it.
void SyncDirectoryOf(const char* target) {
    char* directory = DirectoryOf(target);
    if (directory == nullptr) return;
    const int descriptor = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        fsync(descriptor);
        close(descriptor);
    }
    std::free(directory);
}

// Whether what lies at target (its links already followed) may be replaced: nothing, or a
// regular file open for writing. *exists tells whether a file lies there and *old receives
// its status.
bool ResolvedMayBeReplaced(const char* target, bool* exists, struct stat* old) {
    *exists = false;
    if (lstat(target, old) != 0) return errno == ENOENT;
    *exists = true;
    if (!S_ISREG(old->st_mode)) return false;
    const int descriptor = open(target, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) return false;
    close(descriptor);
    return true;
}

// Gives the finished temporary file target's name. An unflushed replacement swaps the two names
// where the system can and then removes the old file: a rename over an existing file makes ext4
// write the new one to the disk at once (its guard for programs that skip fsync), which costs
// more than the whole write, while a removed old file is dropped unwritten.
bool PutInPlace(const char* temporary, const char* target, bool exchange) {
#if NAVLUME_HAVE_RENAME_EXCHANGE
    if (exchange && renameat2(AT_FDCWD, temporary, AT_FDCWD, target, RENAME_EXCHANGE) == 0) {
        unlink(temporary);  // the old file, now under the temporary name
        return true;
    }
#else
    static_cast<void>(exchange);
#endif
    return rename(temporary, target) == 0;
}

// The file that a chain of symbolic links starting at path leads to; path itself when it is no
// link. A link whose target does not exist leads to that missing target. A heap text, or null
// when the chain does not end (too many links) or memory runs out.
char* ResolveLinkTarget(const char* path) {
    if (path == nullptr) path = "";
    char* current = CopyBytes(path, std::strlen(path));
    for (int hop = 0; current != nullptr && hop <= kLinkLimit; ++hop) {
        struct stat status {};
        if (lstat(current, &status) != 0 || !S_ISLNK(status.st_mode)) return current;
        if (hop == kLinkLimit) break;
        char* link = ReadLinkText(current, status.st_size);
        if (link == nullptr) break;
        char* next = nullptr;
        if (link[0] == '/') {
            next = link;
        } else {
            // A relative link counts from the directory that holds it.
            char* directory = DirectoryOf(current);
            if (directory != nullptr) next = JoinPath(directory, link);
            std::free(directory);
            std::free(link);
        }
        std::free(current);
        current = next;
    }
    std::free(current);
    return nullptr;
}

}  // namespace

bool FileCouldBeReplaced(const char* path) {
    char* target = ResolveLinkTarget(path);
    if (target == nullptr) return false;
    bool exists = false;
    struct stat old {};
    bool allowed = target[0] != '\0' && ResolvedMayBeReplaced(target, &exists, &old);
    if (allowed) {
        char* temporary = nullptr;
        const int descriptor = CreateTemporaryBeside(target, 0600, &temporary);
        allowed = descriptor >= 0;
        if (allowed) {
            close(descriptor);
            unlink(temporary);
        }
        std::free(temporary);
    }
    std::free(target);
    return allowed;
}

bool ReplaceFileContents(const char* path, const char* bytes, size_t length, FileFlush flush) {
    char* target = ResolveLinkTarget(path);
    if (target == nullptr) return false;
    bool exists = false;
    struct stat old {};
    if (target[0] == '\0' || !ResolvedMayBeReplaced(target, &exists, &old)) {
        std::free(target);
        return false;
    }
    // A new file is created as fopen would (0666 less the umask); a replacement with the old
    // file's permission bits (never more than they allow), made exact once its bytes are in.
    char* temporary = nullptr;
    const int descriptor =
        CreateTemporaryBeside(target, exists ? (old.st_mode & 0777) : 0666, &temporary);
    if (descriptor < 0) {
        std::free(target);
        return false;
    }
    bool saved = WriteAll(descriptor, bytes, length);
    if (saved && exists) saved = TakeOverOwnerAndMode(descriptor, old);
    const bool flushed = flush == FileFlush::ToDisk;
    if (saved && flushed) saved = fsync(descriptor) == 0;
    if (close(descriptor) != 0) saved = false;
    if (saved) saved = PutInPlace(temporary, target, exists && !flushed);
    if (saved && flushed) SyncDirectoryOf(target);
    if (!saved) unlink(temporary);
    std::free(temporary);
    std::free(target);
    return saved;
}
