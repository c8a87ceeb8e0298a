// Writing preference files: the exact bytes a save leaves on disk, and that a save never loses
// the settings.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "runtime/preference_file.h"
#include "runtime/preference_state.h"
#include "runtime/temp_buffer.h"
#include "tests/support/scratch_directory.h"

using namespace std::string_literals;

namespace {

bool Exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

// The names in a directory (without "." and ".."), sorted.
std::vector<std::string> NamesIn(const std::string& directory) {
    std::vector<std::string> names;
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) return names;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadText(const char* key) {
    TempScope scope;
    return PreferenceReadText(key, "<default>", scope.start());
}

class PreferenceWriteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.valid());
        PreferenceLibraryInit();
    }
    void TearDown() override {
        PreferenceDenyUpdateForTesting(false);
        PreferenceLibraryEnd();
    }

    ScratchDirectory scratch_;
    std::string settings_ = scratch_.File("settings.cfg");
};

struct RewriteCase {
    const char* name;
    int32_t flags;
    std::string before;
    std::function<void()> writes;
    std::string after;
};

TEST_F(PreferenceWriteTest, RewriteProducesExactBytes) {
    const RewriteCase cases[] = {
        {"comment gains a space", 0, "[G]\n;c\nk=1\n",
         [] {
             PreferenceGroup("G");
             PreferenceWriteText("k", "2");
         },
         "[G]\n; c\nk = 2\n"},
        {"empty comment", 0, ";\n", [] { PreferenceWriteText("k", "v"); }, "; \nk = v\n"},
        {"layout is normalised", 0, "\r\n  [G] words\r\n\r\n\tk = 1\r\r;  two spaces\n",
         [] {
             PreferenceGroup("G");
             PreferenceWriteText("k", "2");
         },
         "[G]\nk = 2\n;  two spaces\n"},
        {"key without = is kept with an empty value", 0, "[G]\nalone\nnext = 5\n",
         [] {
             PreferenceGroup("G");
             PreferenceWriteText("next", "6");
         },
         "[G]\nalone = \nnext = 6\n"},
        {"trailing blanks of values stay, of keys go", 0, "[G]\nk  = v  \nm = 1\n",
         [] {
             PreferenceGroup("G");
             PreferenceWriteText("m", "2");
         },
         "[G]\nk = v  \nm = 2\n"},
        {"rewritten key takes the caller's case", 0, "[GE]\nzoom = 1\n",
         [] {
             PreferenceGroup("ge");
             PreferenceWriteText("ZOOM", "5000");
         },
         "[GE]\nZOOM = 5000\n"},
        {"same key twice stays one line", 0, "[G]\nk = 1\n",
         [] {
             PreferenceGroup("G");
             PreferenceWriteText("k", "a much longer value than before");
             PreferenceWriteText("K", "");
         },
         "[G]\nK = \n"},
        {"new key after the last line of its group", 0, "[A]\na = 1\n; note\n[B]\nb = 2\n",
         [] {
             PreferenceGroup("a");
             PreferenceWriteText("c", "3");
         },
         "[A]\na = 1\n; note\nc = 3\n[B]\nb = 2\n"},
        {"new key in an empty group", 0, "[A]\n[B]\n",
         [] {
             PreferenceGroup("A");
             PreferenceWriteText("k", "v");
         },
         "[A]\nk = v\n[B]\n"},
        {"new key in the top section", 0, "t = 1\n[A]\na = 1\n",
         [] { PreferenceWriteText("u", "v"); }, "t = 1\nu = v\n[A]\na = 1\n"},
        {"top section after a comment", 0, "; c\n[A]\n", [] { PreferenceWriteText("u", "v"); },
         "; c\nu = v\n[A]\n"},
        {"top section when the file starts with a header", 0, "[A]\na = 1\n",
         [] { PreferenceWriteText("u", "v"); }, "u = v\n[A]\na = 1\n"},
        {"empty file", 0, "", [] { PreferenceWriteText("k", "v"); }, "k = v\n"},
        {"missing group added at the end", 0, "[A]\na = 1\n",
         [] {
             EXPECT_EQ(PreferenceGroup("New"), 0);
             PreferenceWriteText("x", "1");
             PreferenceWriteText("y", "2");
             EXPECT_EQ(PreferenceGroup("new"), 1);
         },
         "[A]\na = 1\n[New]\nx = 1\ny = 2\n"},
        {"pending group left without a write", 0, "[A]\na = 1\n",
         [] {
             PreferenceGroup("Never");
             PreferenceGroup("A");
             PreferenceWriteText("a", "2");
         },
         "[A]\na = 2\n"},
        {"later pending group replaces the earlier one", 0, "[A]\n",
         [] {
             PreferenceGroup("X");
             PreferenceGroup("Y");
             PreferenceWriteText("k", "v");
         },
         "[A]\n[Y]\nk = v\n"},
        {"leading blanks of a written value", 0, "",
         [] {
             PreferenceWriteText("k", "  x ");
             EXPECT_EQ(ReadText("k"), "x");
         },
         "k =   x \n"},
        {"null key and text read as empty", 0, "", [] { PreferenceWriteText(nullptr, nullptr); },
         " = \n"},
        {"integers in %d form", 0, "[GE]\nZoom = 1\n",
         [] {
             PreferenceGroup("GE");
             PreferenceWriteInteger("Zoom", -35000);
             PreferenceWriteInteger("Low", INT32_MIN);
         },
         "[GE]\nZoom = -35000\nLow = -2147483648\n"},
        {"compact separator", kPreferenceCompactSeparator, "[G]\nk = 1\n",
         [] {
             PreferenceGroup("G");
             PreferenceWriteText("k", "2");
         },
         "[G]\nk=2\n"},
        {"empty line before every header but the first", kPreferenceSpaceGroups,
         "t = 1\n[A]\na = 1\n[B]\n\n\n[C]\n",
         [] {
             PreferenceGroup("New");
             PreferenceWriteText("k", "v");
         },
         "t = 1\n[A]\na = 1\n\n[B]\n\n[C]\n\n[New]\nk = v\n"},
        {"both flags", kPreferenceCompactSeparator | kPreferenceSpaceGroups, "[A]\n[B]\n",
         [] {
             PreferenceGroup("B");
             PreferenceWriteText("k", "v");
         },
         "[A]\n\n[B]\nk=v\n"},
        {"Latin-1 file stays Latin-1", 0, "[G]\n",
         [] {
             PreferenceGroup("G");
             PreferenceWriteText("City", "M\xFCnchen");
         },
         "[G]\nCity = M\xFCnchen\n"},
        {"marked file keeps its mark and gains an empty line", 0,
         "\xEF\xBB\xBF[G]\nname = Gr\xC3\xBC\xC3\x9F\n",
         [] {
             PreferenceGroup("G");
             EXPECT_EQ(ReadText("name"), "Gr\xFC\xDF");
             PreferenceWriteText("City", "M\xFCnchen");
             PreferenceWriteText("Name", "Gr\xFC\xDF");
         },
         "\xEF\xBB\xBF\n[G]\nName = Gr\xC3\xBC\xC3\x9F\nCity = M\xC3\xBCnchen\n"},
        {"UTF-8 names of new groups and keys", 0, "\xEF\xBB\xBF",
         [] {
             PreferenceGroup("Stra\xDF\x65");
             PreferenceWriteText("\xC4", "\xFF");
         },
         "\xEF\xBB\xBF\n[Stra\xC3\x9F\x65]\n\xC3\x84 = \xC3\xBF\n"},
    };
    for (const RewriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(settings_, c.before);
        ASSERT_NE(PreferenceOpenWithFlags(settings_.c_str(), c.flags), 0);
        c.writes();
        PreferenceClose();
        EXPECT_EQ(ReadBytes(settings_), c.after);
    }
}

// What the tracker writes on its first run, and reads on the next.
TEST_F(PreferenceWriteTest, FirstRunFileOfTheTracker) {
    const std::filesystem::path previous = std::filesystem::current_path();
    ASSERT_EQ(chdir(scratch_.path().c_str()), 0);
    EXPECT_EQ(PreferenceOpen("settings.cfg"), 0);
    ASSERT_NE(PreferenceCreate("settings.cfg"), 0);
    PreferenceGroup("Server");
    PreferenceWriteText("Server", "127.0.0.1");
    PreferenceWriteText("Port", "10000");
    PreferenceGroup("GE");
    PreferenceWriteInteger("Zoom", 500);
    // The file is saved where it was opened even if the working directory changes meanwhile.
    ASSERT_EQ(chdir(previous.c_str()), 0);
    PreferenceClose();
    EXPECT_EQ(ReadBytes(settings_),
              "[Server]\nServer = 127.0.0.1\nPort = 10000\n[GE]\nZoom = 500\n");

    ASSERT_NE(PreferenceOpen(settings_.c_str()), 0);
    PreferenceGroup("Server");
    EXPECT_EQ(ReadText("Server"), "127.0.0.1");
    EXPECT_EQ(ReadText("Port"), "10000");
    PreferenceGroup("GE");
    EXPECT_EQ(PreferenceReadInteger("Zoom", 0), 500);
}

TEST_F(PreferenceWriteTest, CreateReplacesTheFileOnlyAtClose) {
    WriteBytes(settings_, "[Old]\nk = 1\n");
    ASSERT_NE(PreferenceCreate(settings_.c_str()), 0);
    EXPECT_EQ(ReadText("k"), "<default>");  // starts empty
    PreferenceWriteText("k", "2");
    EXPECT_EQ(ReadBytes(settings_), "[Old]\nk = 1\n");  // nothing lost before the save
    PreferenceClose();
    EXPECT_EQ(ReadBytes(settings_), "k = 2\n");

    // Created and closed without writes: an empty file, as a truncating create leaves it.
    ASSERT_NE(PreferenceCreate(settings_.c_str()), 0);
    PreferenceClose();
    EXPECT_TRUE(Exists(settings_));
    EXPECT_EQ(ReadBytes(settings_), "");

    const std::string fresh = scratch_.File("fresh.cfg");
    ASSERT_NE(PreferenceCreateWithFlags(fresh.c_str(), kPreferenceCompactSeparator), 0);
    PreferenceWriteText("k", "v");
    PreferenceClose();
    EXPECT_EQ(ReadBytes(fresh), "k=v\n");
}

TEST_F(PreferenceWriteTest, CreateFailsWhereNoFileCanBeMade) {
    const std::string nowhere = scratch_.File("no/such/dir/settings.cfg");
    EXPECT_EQ(PreferenceCreate(nowhere.c_str()), 0);
    EXPECT_EQ(PreferenceGroup("G"), 0);  // nothing stays open
    PreferenceWriteText("k", "v");
    EXPECT_EQ(ReadText("k"), "<default>");
    PreferenceClose();
    EXPECT_EQ(PreferenceCreate(scratch_.path().c_str()), 0);  // a directory
    EXPECT_EQ(NamesIn(scratch_.path()), std::vector<std::string>{});
}

TEST_F(PreferenceWriteTest, MissingFileIsCreatedAtCloseOnlyWhenWritten) {
    EXPECT_EQ(PreferenceOpen(settings_.c_str()), 0);
    PreferenceGroup("Server");
    EXPECT_EQ(ReadText("Port"), "<default>");
    PreferenceClose();
    EXPECT_FALSE(Exists(settings_));

    EXPECT_EQ(PreferenceOpenWithFlags(settings_.c_str(), kPreferenceCompactSeparator), 0);
    PreferenceGroup("Server");
    PreferenceWriteText("Port", "4001");
    EXPECT_EQ(ReadText("port"), "4001");  // kept in memory meanwhile
    PreferenceClose();
    // The flags of a failed open are not kept.
    EXPECT_EQ(ReadBytes(settings_), "[Server]\nPort = 4001\n");

    const std::string nowhere = scratch_.File("no/such/dir/settings.cfg");
    EXPECT_EQ(PreferenceOpen(nowhere.c_str()), 0);
    PreferenceWriteText("k", "v");
    PreferenceClose();
    EXPECT_FALSE(Exists(scratch_.File("no")));
}

TEST_F(PreferenceWriteTest, OpeningAnotherFileSavesTheFirst) {
    const std::string other = scratch_.File("other.cfg");
    WriteBytes(settings_, "[G]\n");
    WriteBytes(other, "k = 1\n");
    ASSERT_NE(PreferenceOpen(settings_.c_str()), 0);
    PreferenceGroup("G");
    PreferenceWriteText("k", "v");
    ASSERT_NE(PreferenceOpen(other.c_str()), 0);
    EXPECT_EQ(ReadBytes(settings_), "[G]\nk = v\n");
    EXPECT_EQ(ReadText("k"), "1");  // the top section of the new file is selected
    PreferenceWriteText("k", "2");
    PreferenceLibraryEnd();  // shutdown saves a file that is still open
    EXPECT_EQ(ReadBytes(other), "k = 2\n");
}

TEST_F(PreferenceWriteTest, ReadOnlyFileDropsWrites) {
    const std::string original = "[Server]\nPort=1\n";
    WriteBytes(settings_, original);
    // The superuser may open every file for writing, so the read-only case is forced; a
    // normal user gets it for real from the file's mode.
    const bool forced = geteuid() == 0;
    if (forced) {
        PreferenceDenyUpdateForTesting(true);
    } else {
        ASSERT_EQ(chmod(settings_.c_str(), 0444), 0);
    }
    ASSERT_NE(PreferenceOpen(settings_.c_str()), 0);
    PreferenceGroup("Server");
    EXPECT_EQ(ReadText("Port"), "1");
    PreferenceWriteText("Port", "2");
    EXPECT_EQ(ReadText("Port"), "2");  // accepted in memory
    PreferenceClose();
    EXPECT_EQ(ReadBytes(settings_), original);
    EXPECT_EQ(NamesIn(scratch_.path()), std::vector<std::string>{"settings.cfg"});
}

TEST_F(PreferenceWriteTest, FullDiskKeepsTheOldFile) {
    const std::string original = "[Server]\nServer = 192.168.1.20\nPort = 4001\n";
    const std::string longValue(8192, 'x');
    // Runs the save in a child whose files may not grow beyond 64 bytes, so that writing the
    // new file fails with EFBIG as on a full disk. Returns the child's exit status.
    const auto saveWithFileLimit = [&](rlim_t limit) {
        WriteBytes(settings_, original);
        const pid_t child = fork();
        if (child == 0) {
            const rlimit fileLimit{limit, limit};
            signal(SIGXFSZ, SIG_IGN);
            if (setrlimit(RLIMIT_FSIZE, &fileLimit) != 0) _exit(2);
            if (PreferenceOpen(settings_.c_str()) == 0) _exit(3);
            PreferenceGroup("Server");
            PreferenceWriteText("Comment", longValue.c_str());
            PreferenceClose();
            _exit(0);
        }
        int status = -1;
        waitpid(child, &status, 0);
        return status;
    };

    EXPECT_EQ(saveWithFileLimit(64), 0);
    EXPECT_EQ(ReadBytes(settings_), original);
    EXPECT_EQ(NamesIn(scratch_.path()), std::vector<std::string>{"settings.cfg"});

    // The same save with room to spare does change the file.
    EXPECT_EQ(saveWithFileLimit(RLIM_INFINITY), 0);
    EXPECT_EQ(ReadBytes(settings_), original + "Comment = " + longValue + "\n");
    EXPECT_EQ(NamesIn(scratch_.path()), std::vector<std::string>{"settings.cfg"});
}

TEST_F(PreferenceWriteTest, SymbolicLinkStaysALink) {
    ASSERT_EQ(mkdir(scratch_.File("real").c_str(), 0755), 0);
    const std::string target = scratch_.File("real/target.cfg");
    WriteBytes(target, "[G]\nk = 1\n");
    // settings.cfg -> middle.cfg -> real/target.cfg, relative and absolute.
    ASSERT_EQ(symlink(target.c_str(), scratch_.File("middle.cfg").c_str()), 0);
    ASSERT_EQ(symlink("middle.cfg", settings_.c_str()), 0);

    ASSERT_NE(PreferenceOpen(settings_.c_str()), 0);
    PreferenceGroup("G");
    PreferenceWriteText("k", "2");
    PreferenceClose();

    EXPECT_EQ(ReadBytes(target), "[G]\nk = 2\n");
    EXPECT_EQ(std::filesystem::read_symlink(settings_), "middle.cfg");
    EXPECT_EQ(std::filesystem::read_symlink(scratch_.File("middle.cfg")), target);
    EXPECT_EQ(NamesIn(scratch_.path()),
              (std::vector<std::string>{"middle.cfg", "real", "settings.cfg"}));
    EXPECT_EQ(NamesIn(scratch_.File("real")), std::vector<std::string>{"target.cfg"});
}

TEST_F(PreferenceWriteTest, DanglingLinkCreatesItsTarget) {
    ASSERT_EQ(symlink("missing.cfg", settings_.c_str()), 0);
    EXPECT_EQ(PreferenceOpen(settings_.c_str()), 0);
    PreferenceWriteText("k", "v");
    PreferenceClose();
    EXPECT_EQ(std::filesystem::read_symlink(settings_), "missing.cfg");
    EXPECT_EQ(ReadBytes(scratch_.File("missing.cfg")), "k = v\n");
}

TEST_F(PreferenceWriteTest, PermissionBitsCarryOver) {
    WriteBytes(settings_, "k = 1\n");
    ASSERT_EQ(chmod(settings_.c_str(), 0640), 0);
    ASSERT_NE(PreferenceOpen(settings_.c_str()), 0);
    PreferenceWriteText("k", "2");
    PreferenceClose();
    struct stat status {};
    ASSERT_EQ(stat(settings_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadBytes(settings_), "k = 2\n");

    // A new file gets 0666 narrowed by the umask, as any newly created file.
    const mode_t previous = umask(027);
    const std::string fresh = scratch_.File("fresh.cfg");
    EXPECT_EQ(PreferenceOpen(fresh.c_str()), 0);
    PreferenceWriteText("k", "v");
    PreferenceClose();
    umask(previous);
    ASSERT_EQ(stat(fresh.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

}  // namespace
