#include "ui/application.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "ui/menus.h"
#include "ui/platform_interface.h"
#include "ui/user_folder.h"

namespace {

std::atomic<std::thread::id> guiThread{};

// The platform, read from any thread. Calls from other threads hold the lock shared for as long
// as they are inside the platform; replacing the platform takes it exclusively, so it waits for
// them and keeps new ones out until the new platform is in place.
std::atomic<UiPlatform*> platformInUse{nullptr};
std::shared_mutex platformLock;

constexpr const char* kBundleMarker = ".app/Contents/MacOS/";

// Makes folder the working directory; false (and nothing changed) when it cannot be.
bool EnterFolder(const std::string& folder) {
    return chdir(folder.c_str()) == 0;
}

}  // namespace

void SetUiPlatform(UiPlatform* platform) {
    std::unique_lock<std::shared_mutex> lock(platformLock);
    platformInUse.store(platform);
}

UiPlatform* CurrentUiPlatform() {
    return platformInUse.load();
}

void PostToGuiThread(std::function<void()> task) {
    std::shared_lock<std::shared_mutex> lock(platformLock);
    if (UiPlatform* platform = platformInUse.load()) platform->postToGuiThread(std::move(task));
}

void WakeGuiThread() {
    std::shared_lock<std::shared_mutex> lock(platformLock);
    if (UiPlatform* platform = platformInUse.load()) platform->wake();
}

bool RunOnGuiThreadAfter(int32_t delayMs, std::function<void()> task) {
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr || !IsGuiThread()) return false;
    platform->runOnGuiThreadAfter(delayMs, std::move(task));
    return true;
}

void BringProcessToFront() {
    if (UiPlatform* platform = CurrentUiPlatform()) platform->bringToFront();
}

std::string BundleContentsDirectory(const std::string& executablePath) {
    // <anything>/<name>.app/Contents/MacOS/<executable>: the Contents folder, on Linux too, so
    // that the settings file lives inside the bundle wherever it was copied.
    const size_t slash = executablePath.rfind('/');
    if (slash == std::string::npos) return "";
    const std::string folder = executablePath.substr(0, slash + 1);
    const std::string marker = kBundleMarker;
    if (folder.size() <= marker.size() ||
        folder.compare(folder.size() - marker.size(), marker.size(), marker) != 0) {
        return "";
    }
    // The bundle needs a name before ".app", and a folder in front of it.
    const size_t nameStart = folder.rfind('/', folder.size() - marker.size() - 1);
    if (nameStart == std::string::npos || nameStart + 1 >= folder.size() - marker.size()) {
        return "";
    }
    return folder.substr(0, folder.size() - std::string("/MacOS/").size());
}

void EnterBundleDirectory() {
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr) return;
    const std::string contents = BundleContentsDirectory(platform->executablePath());
    // A failure leaves the working directory as it was.
    const bool inBundle = !contents.empty() && EnterFolder(contents);
    // The settings and KML files are made beside each other, by replacing temporary files.
    const bool writable = inBundle && access(".", W_OK | X_OK) == 0;
    const PlatformHomeFolders folders = platform->homeFolders();
    const std::string userFolder =
        UserFolderToEnter(writable, folders.home.c_str(), folders.xdgConfigHome.c_str(),
                          ThisSystemsUserFolderConvention());
    if (!userFolder.empty()) EnterFolder(userFolder);
}

PlatformHomeFolders HomeFoldersOfProcess() {
    PlatformHomeFolders folders;
    if (const char* home = getenv("HOME")) folders.home = home;
    if (const char* config = getenv("XDG_CONFIG_HOME")) folders.xdgConfigHome = config;
    return folders;
}

void ApplicationInit() {
    guiThread.store(std::this_thread::get_id());
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr) return;
    const std::string path = platform->executablePath();
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    platform->buildApplicationMenu(name, MenuDelegate());
    CreateDefaultMenuBar();
}

void ApplicationEnd() {}

void TextModeInit() {}

bool IsGuiThread() {
    return guiThread.load() == std::this_thread::get_id();
}
