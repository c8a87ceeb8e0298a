#include "ui/user_folder.h"

#include <sys/stat.h>

#include <cerrno>

namespace {

constexpr mode_t kPrivateMode = 0700;

bool IsAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

// path without trailing slashes (but "/" stays "/").
std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool IsFolder(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Creates one folder whose parent exists. True when a folder lies there afterwards.
bool MakeOneFolder(const std::string& path) {
    if (mkdir(path.c_str(), kPrivateMode) == 0) {
        // The umask may have narrowed the mode; the folder is ours, so it is made exact.
        chmod(path.c_str(), kPrivateMode);
        return true;
    }
    // Another process may have made it meanwhile; anything but a folder stays as it is.
    return errno == EEXIST && IsFolder(path);
}

}  // namespace

UserFolderConvention ThisSystemsUserFolderConvention() {
#ifdef __APPLE__
    return UserFolderConvention::MacOS;
#else
    return UserFolderConvention::Xdg;
#endif
}

std::string UserFolderPath(const char* home, const char* xdgConfigHome,
                           UserFolderConvention convention) {
    const bool useXdg = convention == UserFolderConvention::Xdg && IsAbsolute(xdgConfigHome);
    if (!useXdg && !IsAbsolute(home)) return "";
    std::string base = WithoutTrailingSlashes(useXdg ? xdgConfigHome : home);
    if (base == "/") base.clear();
    if (useXdg) return base + "/navlume";
    if (convention == UserFolderConvention::MacOS) {
        return base + "/Library/Application Support/Navlume";
    }
    return base + "/.config/navlume";
}

bool MakePrivateFolder(const std::string& path) {
    if (!IsAbsolute(path.c_str())) return false;
    // Each folder on the way, from the root down: existing ones are passed, missing ones made.
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string step = path.substr(0, end);
        if (!step.empty() && step.back() != '/' && !IsFolder(step) && !MakeOneFolder(step)) {
            return false;
        }
        if (end == std::string::npos) return true;
    }
}

std::string UserFolderToEnter(bool contentsWritable, const char* home, const char* xdgConfigHome,
                              UserFolderConvention convention) {
    if (contentsWritable) return "";
    const std::string folder = UserFolderPath(home, xdgConfigHome, convention);
    if (folder.empty() || !MakePrivateFolder(folder)) return "";
    return folder;
}
