// Where the program keeps its files: the bundle's Contents folder, or the user's own folder when
// the bundle cannot hold them. Driven with scratch folders as HOME, never the real environment.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/layers.h"
#include "tests/support/fake_platform.h"
#include "tests/support/scratch_directory.h"
#include "ui/ui.h"
#include "ui/user_folder.h"

namespace {

namespace fs = std::filesystem;
using Convention = UserFolderConvention;

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// In every row "@" stands for the scratch folder. Before the call, "home" is a folder and the
// row's plain file (if any) holds "mine"; after it, the chosen folder (empty: stay) must be a
// folder with the mode, and the plain file must be untouched.
struct Row {
    const char* name;
    bool contentsWritable;
    const char* home;  // null: unset
    const char* xdgConfigHome;
    Convention convention;
    const char* plainFile;   // made before the call, or null
    const char* madeFolder;  // made (mode 0755) before the call, or null
    const char* chosen;      // the folder to enter; "" stays
    mode_t mode;             // of the chosen folder and each folder made on the way to it
};

std::string At(const ScratchDirectory& scratch, const char* path) {
    std::string text = path;
    if (!text.empty() && text[0] == '@') text = scratch.Path() + text.substr(1);
    return text;
}

TEST(UserFolderTest, WhereTheFilesGo) {
    // clang-format off
    const Row rows[] = {
        {"a writable bundle keeps them", true, "@/home", "@/config", Convention::Xdg, nullptr, nullptr, "", 0},
        {"read-only bundle: an absolute XDG_CONFIG_HOME", false, "@/home", "@/config", Convention::Xdg, nullptr, nullptr, "@/config/navlume", 0700},
        {"a relative XDG_CONFIG_HOME is ignored", false, "@/home", "config", Convention::Xdg, nullptr, nullptr, "@/home/.config/navlume", 0700},
        {"an empty XDG_CONFIG_HOME is ignored", false, "@/home/", "", Convention::Xdg, nullptr, nullptr, "@/home/.config/navlume", 0700},
        {"no HOME stays", false, nullptr, nullptr, Convention::Xdg, nullptr, nullptr, "", 0},
        {"a relative HOME stays", false, "home", nullptr, Convention::Xdg, nullptr, nullptr, "", 0},
        {"no HOME, but an absolute XDG_CONFIG_HOME", false, nullptr, "@/config/", Convention::Xdg, nullptr, nullptr, "@/config/navlume", 0700},
        {"a plain file as the folder: nothing stored", false, "@/home", nullptr, Convention::Xdg, "@/home/.config/navlume", nullptr, "", 0},
        {"a plain file as a parent: nothing stored", false, "@/home", nullptr, Convention::Xdg, "@/home/.config", nullptr, "", 0},
        {"an existing folder keeps its mode", false, "@/home", nullptr, Convention::Xdg, nullptr, "@/home/.config/navlume", "@/home/.config/navlume", 0755},
        {"macOS: Application Support", false, "@/home", "@/config", Convention::MacOS, nullptr, nullptr, "@/home/Library/Application Support/Navlume", 0700},
        {"macOS: no HOME stays", false, nullptr, "@/config", Convention::MacOS, nullptr, nullptr, "", 0},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDirectory scratch;
        ASSERT_TRUE(scratch.Valid());
        fs::create_directories(scratch.File("home"));
        const std::string plain = row.plainFile ? At(scratch, row.plainFile) : "";
        if (!plain.empty()) {
            fs::create_directories(fs::path(plain).parent_path());
            WriteBytes(plain, "mine");
        }
        if (row.madeFolder) {
            fs::create_directories(At(scratch, row.madeFolder));
            chmod(At(scratch, row.madeFolder).c_str(), 0755);
        }
        const std::string home = row.home ? At(scratch, row.home) : "";
        const std::string config = row.xdgConfigHome ? At(scratch, row.xdgConfigHome) : "";
        // A narrow umask, as a user may have: the folders made must still be usable.
        const mode_t previousMask = umask(0277);
        const std::string chosen =
            UserFolderToEnter(row.contentsWritable, row.home ? home.c_str() : nullptr,
                              row.xdgConfigHome ? config.c_str() : nullptr, row.convention);
        umask(previousMask);
        EXPECT_EQ(chosen, At(scratch, row.chosen));
        EXPECT_TRUE(chosen.empty() || fs::is_directory(chosen));
        // Every folder made is the chosen one or on the way to it, with the mode; staying makes
        // nothing. The row's own file and folders stay as they were.
        for (const auto& entry : fs::recursive_directory_iterator(scratch.Path())) {
            const std::string path = entry.path().string();
            if (path == scratch.File("home") || (plain + "/").starts_with(path + "/")) continue;
            EXPECT_TRUE(entry.is_directory() && (chosen + "/").starts_with(path + "/")) << path;
            if (row.madeFolder == nullptr || path == chosen) {
                EXPECT_EQ(ModeOf(path), row.mode) << path;
            }
        }
        if (!plain.empty()) {
            EXPECT_EQ(ReadBytes(plain), "mine");
        }
    }
}

// The start-up: an executable outside any bundle works in the user's folder, one in a writable
// bundle in its Contents folder; the HOME comes from the platform.
TEST(UserFolderTest, TheStartUpEntersTheChosenFolder) {
    ScratchDirectory scratch;
    ASSERT_TRUE(scratch.Valid());
    const fs::path contents = fs::path(scratch.Path()) / "N.app/Contents";
    fs::create_directories(contents / "MacOS");
    const std::string previous = fs::current_path().string();
    const std::pair<std::string, fs::path> starts[] = {
        {"/usr/bin/navlume", fs::path(scratch.Path()) / "home/.config/navlume"},
        {(contents / "MacOS/N").string(), contents},
    };
    for (const auto& [executable, expected] : starts) {
        FakePlatform platform;
        platform.executable = executable;
        platform.home.home = scratch.File("home");
        SetUiPlatform(&platform);
        StartLayers();
        EXPECT_EQ(fs::current_path(), fs::canonical(expected)) << executable;
        EndLayers(LayerEnd::Everything);
        SetUiPlatform(nullptr);
        fs::current_path(previous);
    }
}

}  // namespace
