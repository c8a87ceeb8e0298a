// Writing preference files: the exact bytes a save leaves on disk, and that a save never loses
// the settings.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "runtime/preference_file.h"
#include "runtime/temp_buffer.h"
#include "tests/support/scratch_directory.h"

using namespace std::string_literals;

namespace {

// The names in a directory, sorted.
std::vector<std::string> NamesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
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
    void TearDown() override { PreferenceLibraryEnd(); }

    ScratchDirectory scratch_;
    std::string settings_ = scratch_.File("settings.cfg");
};

// One write of value to key in group (no group call for nullptr), or `writes` when it is set.
struct RewriteCase {
    const char* name;
    int32_t flags;
    std::string before;
    const char* group;
    const char* key;
    const char* value;
    std::string after;
    std::function<void()> writes = nullptr;
};

TEST_F(PreferenceWriteTest, RewriteProducesExactBytes) {
    const RewriteCase cases[] = {
        {"comment gains a space", 0, "[G]\n;c\n;\nk=1\n", "G", "k", "2", "[G]\n; c\n; \nk = 2\n"},
        {"layout is normalised", 0, "\r\n  [G] words\r\n\r\n\tk = 1\r\r;  two spaces\n", "G", "k",
         "2", "[G]\nk = 2\n;  two spaces\n"},
        {"key without = is kept with an empty value", 0, "[G]\nalone\nnext = 5\n", "G", "next", "6",
         "[G]\nalone = \nnext = 6\n"},
        {"trailing blanks of values stay, of keys go", 0, "[G]\nk  = v  \nm = 1\n", "G", "m", "2",
         "[G]\nk = v  \nm = 2\n"},
        {"rewritten key takes the caller's case", 0, "[GE]\nzoom = 1\n", "ge", "ZOOM", "5000",
         "[GE]\nZOOM = 5000\n"},
        {"new key after the last line of its group", 0, "[A]\na = 1\n; note\n[B]\nb = 2\n", "a",
         "c", "3", "[A]\na = 1\n; note\nc = 3\n[B]\nb = 2\n"},
        {"new key in the top section", 0, "t = 1\n[A]\na = 1\n", nullptr, "u", "v",
         "t = 1\nu = v\n[A]\na = 1\n"},
        {"empty file", 0, "", nullptr, "k", "  x ", "k =   x \n"},
        {"missing group added at the end", 0, "[A]\na = 1\n", "New", "x", "1",
         "[A]\na = 1\n[New]\nx = 1\n"},
        {"compact separator", kPreferenceCompactSeparator, "[G]\nk = 1\n", "G", "k", "2",
         "[G]\nk=2\n"},
        {"empty line before every header but the first", kPreferenceSpaceGroups,
         "t = 1\n[A]\na = 1\n[B]\n\n\n[C]\n", "New", "k", "v",
         "t = 1\n[A]\na = 1\n\n[B]\n\n[C]\n\n[New]\nk = v\n"},
        {"UTF-8 names of new groups and keys", 0, "\xEF\xBB\xBF", "Stra\xDF\x65", "\xC4", "\xFF",
         "\xEF\xBB\xBF\n[Stra\xC3\x9F\x65]\n\xC3\x84 = \xC3\xBF\n"},
        {"same key twice stays one line", 0, "[G]\nk = 1\n", "G", "k", "long value", "[G]\nK = \n",
         [] { PreferenceWriteText("K", ""); }},
        {"pending groups: only the last one before a write counts", 0, "[A]\na = 1\n", "Never",
         nullptr, nullptr, "[A]\na = 2\n[Y]\nk = v\n",
         [] {
             PreferenceGroup("A");
             PreferenceWriteText("a", "2");
             PreferenceGroup("X");
             EXPECT_EQ(PreferenceGroup("Y"), 0);
             PreferenceWriteText("k", "v");
             EXPECT_EQ(PreferenceGroup("y"), 1);
         }},
        {"marked file keeps its mark and gains an empty line", 0,
         "\xEF\xBB\xBF[G]\nname = Gr\xC3\xBC\xC3\x9F\n", "G", "City", "M\xFCnchen",
         "\xEF\xBB\xBF\n[G]\nName = Gr\xC3\xBC\xC3\x9F\nCity = M\xC3\xBCnchen\n", [] {
             EXPECT_EQ(ReadText("name"), "Gr\xFC\xDF");
             PreferenceWriteText("Name", "Gr\xFC\xDF");
         }}};
    for (const RewriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(settings_, c.before);
        ASSERT_NE(PreferenceOpenWithFlags(settings_.c_str(), c.flags), 0);
        if (c.group != nullptr) PreferenceGroup(c.group);
        if (c.key != nullptr) PreferenceWriteText(c.key, c.value);
        if (c.writes) c.writes();
        PreferenceClose();
        EXPECT_EQ(ReadBytes(settings_), c.after);
    }
}

// A created file replaces the old one only at close, where it was created even if the working
// directory changed meanwhile; a failed open keeps writes in memory and makes the file at close
// only if something was written, and not where no file can be made.
TEST_F(PreferenceWriteTest, FilesAreMadeOrReplacedAtCloseOnly) {
    WriteBytes(settings_, "[Old]\nk = 1\n");
    const std::filesystem::path previous = std::filesystem::current_path();
    ASSERT_EQ(chdir(scratch_.path().c_str()), 0);
    ASSERT_NE(PreferenceCreate("settings.cfg"), 0);
    ASSERT_EQ(chdir(previous.c_str()), 0);
    EXPECT_EQ(ReadText("k"), "<default>");  // starts empty
    PreferenceWriteInteger("k", -2147483647 - 1);
    EXPECT_EQ(ReadBytes(settings_), "[Old]\nk = 1\n");
    PreferenceClose();
    EXPECT_EQ(ReadBytes(settings_), "k = -2147483648\n");

    const std::string missing = scratch_.File("missing.cfg");
    EXPECT_EQ(PreferenceOpen(missing.c_str()), 0);
    PreferenceGroup("Server");
    PreferenceClose();
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(PreferenceOpenWithFlags(missing.c_str(), kPreferenceCompactSeparator), 0);
    PreferenceGroup("Server");
    PreferenceWriteText("Port", "4001");
    EXPECT_EQ(ReadText("port"), "4001");
    PreferenceClose();
    EXPECT_EQ(ReadBytes(missing), "[Server]\nPort = 4001\n");  // the flags are not kept

    const std::string nowhere = scratch_.File("no/such/dir/settings.cfg");
    EXPECT_EQ(PreferenceCreate(nowhere.c_str()), 0);
    EXPECT_EQ(PreferenceOpen(nowhere.c_str()), 0);
    PreferenceWriteText("k", "v");
    PreferenceClose();
    EXPECT_EQ(NamesIn(scratch_.path()), (std::vector<std::string>{"missing.cfg", "settings.cfg"}));
}

TEST_F(PreferenceWriteTest, ReadOnlyFileDropsWrites) {
    // A program that is running cannot be opened for writing, not even by the superuser; its
    // bytes serve as a settings file that can only be read.
    ASSERT_NO_THROW(std::filesystem::copy_file("/bin/sleep", settings_));
    ASSERT_EQ(chmod(settings_.c_str(), 0755), 0);
    const std::string original = ReadBytes(settings_);
    const pid_t child = fork();
    if (child == 0) {
        execl(settings_.c_str(), settings_.c_str(), "10", static_cast<char*>(nullptr));
        _exit(127);
    }
    // The copy counts as running once the exec has happened.
    for (int i = 0; i < 500 && access(settings_.c_str(), W_OK) == 0; ++i) {
        const int descriptor = open(settings_.c_str(), O_RDWR);
        if (descriptor < 0) break;
        close(descriptor);
        usleep(10000);
    }
    ASSERT_NE(PreferenceOpen(settings_.c_str()), 0);
    PreferenceWriteText("Port", "2");
    EXPECT_EQ(ReadText("Port"), "2");  // accepted in memory
    PreferenceClose();
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(ReadBytes(settings_), original);
    EXPECT_EQ(NamesIn(scratch_.path()), std::vector<std::string>{"settings.cfg"});
}

TEST_F(PreferenceWriteTest, FullDiskKeepsTheOldFile) {
    const std::string original = "[Server]\nServer = 192.168.1.20\nPort = 4001\n";
    const std::string longValue(8192, 'x');
    // Saves in a child whose files may not grow beyond `limit` bytes, so that writing the new
    // file fails with EFBIG as on a full disk.
    for (const rlim_t limit : {rlim_t{64}, RLIM_INFINITY}) {
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
        EXPECT_EQ(status, 0);
        EXPECT_EQ(ReadBytes(settings_),
                  limit == RLIM_INFINITY ? original + "Comment = " + longValue + "\n" : original);
        EXPECT_EQ(NamesIn(scratch_.path()), std::vector<std::string>{"settings.cfg"});
    }
}

TEST_F(PreferenceWriteTest, SymbolicLinkStaysALinkAndModeCarriesOver) {
    ASSERT_EQ(mkdir(scratch_.File("real").c_str(), 0755), 0);
    const std::string target = scratch_.File("real/target.cfg");
    WriteBytes(target, "[G]\nk = 1\n");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
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
    EXPECT_EQ(NamesIn(scratch_.File("real")), std::vector<std::string>{"target.cfg"});
    struct stat status {};
    ASSERT_EQ(stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

}  // namespace
