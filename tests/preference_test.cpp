// The preference file: parsing, which files open, the bytes a save leaves, and safe saves.
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "runtime/atomic_file.h"
#include "runtime/preference_file.h"
#include "runtime/temp_buffer.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/test_data.h"

using namespace std::string_literals;

namespace {

std::string ReadText(const char* key) {
    TempScope scope;
    return PreferenceReadText(key, "<default>", scope.Start());
}

// What lstat says of path: all zero, and a failure, when it says nothing.
struct stat StatOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
    return status;
}

struct PreferenceTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(scratch_.Valid());
        PreferenceLibraryInit();
    }
    void TearDown() override { PreferenceLibraryEnd(); }

    ScratchDirectory scratch_;
    std::string settings_ = scratch_.File("settings.cfg");
};

TEST_F(PreferenceTest, BytesBecomeGroupsKeysAndValues) {
    const std::string tracker = test_data::Golden("first-run-settings.cfg");
    // Bytes, group, key, text ("<default>": no such key), integer (77 by default).
    const std::tuple<std::string, const char*, const char*, const char*, int64_t> cases[] = {
        {tracker, "sErVeR", "PORT", "10000", 10000},
        {tracker, "Server", "Zoom", "<default>", 77},         // key of another group
        {tracker, "Missing", "Port", "<default>", 77},        // no fallback to another group
        {"Top = 1\n[G]\nK = 2\n", "", "K", "<default>", 77},  // top section ends at a header
        {"Top = 1\n[G]\nK = 2\n", nullptr, "top", "1", 1},
        {"[G]\nk \t=   spaced value \t\n", "G", "k", "spaced value", 0},
        {"[G]\rk=v\rm=w\r", "G", "m", "w", 0},
        {"\n\r\nk = 1\n", "", "k", "1", 1},  // empty lines first
        {"[G]\nalone  \t\nnext = 5\n", "G", "alone", "", 0},
        {"[G]\n  = 7\n", "G", "", "7", 7},  // an empty key behind blanks
        {"[G]\n; k = 1\nk = 2\n", "G", "k", "2", 2},
        {"[G]\nk = 1\nK = 2\n[g]\nk = 3\n", "g", "k", "1", 1},
        {"[G]\nk = a\0b\nm = c\n"s, "G", "m", "c", 0},
        {"\xEF\xBB\xBF[G]\nk = Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\n", "G", "k", "Gr\xFC\xDF ?", 0},
        {"\xEF\xBB\xBF[Stra\xC3\x9F\x65]\nk = v\n", "Stra\xDF\x65", "k", "v", 0},
        {"\xEF\xBB\xBFk = \x80 \t\n", "", "k", "", 0},  // blanks behind a dropped byte
        {"\xEF\xBB\xBFk = \x80 v\n", "", "k", "v", 0},
        // Integers as the C library's atoi: a long (saturating), then its low 32 bits.
        {"k = \v-42x", "", "k", "\v-42x", -42},
        {"k = +2147483648", "", "k", "+2147483648", INT32_MIN},
        {"k = 99999999999999999999", "", "k", "99999999999999999999", -1}};
    for (const auto& [bytes, group, key, text, integer] : cases) {
        SCOPED_TRACE(bytes);
        ASSERT_NE(PreferenceOpenBytes(bytes.data(), bytes.size(), 0), 0);
        PreferenceGroup(group);
        EXPECT_EQ(ReadText(key), text);
        EXPECT_EQ(PreferenceReadInteger(key, 77), integer);
    }
    PreferenceClose();
    EXPECT_EQ(PreferenceGroup("Server"), 0);  // nothing open
    EXPECT_EQ(ReadText("Port"), "<default>");
}

// After a failed open only a missing file is made: not a 2 GiB one, a FIFO or a directory.
TEST_F(PreferenceTest, OnlyWhatIsMissingIsCreatedAfterAFailedOpen) {
    const std::string fifo = scratch_.File("fifo.cfg"), missing = scratch_.File("missing.cfg");
    const std::string large = scratch_.File("large.cfg");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    WriteBytes(large, "[Server]\nPort = 4001\n");
    ASSERT_EQ(truncate(large.c_str(), off_t{1} << 31), 0);
    for (const std::string& path : {large, fifo, missing, scratch_.Path()}) {
        EXPECT_EQ(PreferenceOpen(path.c_str()), 0) << path;
        EXPECT_EQ(PreferenceCreate(path.c_str()), path == missing ? 1 : 0) << path;
        PreferenceWriteInteger("Port", 10000);
        PreferenceClose();
    }
    EXPECT_TRUE(S_ISFIFO(StatOf(fifo).st_mode));
    EXPECT_EQ(StatOf(large).st_size, off_t{1} << 31);
    EXPECT_EQ(ReadBytes(missing), "Port = 10000\n");
}

// One write of value to key in group (no group call for nullptr), then `writes` when it is set.
struct RewriteCase {
    const char* name;
    std::string before;
    const char *group, *key, *value;
    std::string after;
    std::function<void()> writes = nullptr;
};

TEST_F(PreferenceTest, RewriteProducesExactBytes) {
    const std::string untouched = "\r\n  [G]  old\r\n;tight\n\tk=1\r\r\nalone\n\n[GE]\nZoom";
    const RewriteCase cases[] = {
        {"no write leaves the bytes", untouched, "NotThere", nullptr, nullptr, untouched},
        {"comment gains a space", "[G]\n;c\n;\nk=1\n", "G", "k", "2", "[G]\n; c\n; \nk = 2\n"},
        {"new key after the last line of its group", "[A]\na = 1\n; note\n[B]\nb = 2\n", "a", "c",
         "3", "[A]\na = 1\n; note\nc = 3\n[B]\nb = 2\n"},
        {"missing group added at the end", "", "New", "x", "  1 ", "[New]\nx =   1 \n"},
        {"same key twice stays one line", "[G]\nk = 1\n", "G", "k", "long value", "[G]\nK = \n",
         [] { PreferenceWriteText("K", ""); }},
        {"only the last pending group before a write counts", "[A]\na = 1\n", "A", "a", "2",
         "[A]\na = 2\n[Y]\nk = v\n",
         [] {
             PreferenceGroup("X");
             EXPECT_EQ(ReadText("a"), "<default>");  // a pending group holds no keys
             EXPECT_EQ(PreferenceGroup("Y"), 0);
             PreferenceWriteText("k", "v");
             EXPECT_EQ(PreferenceGroup("y"), 1);
         }},
        {"marked file keeps its mark, gains an empty line, writes UTF-8",
         "\xEF\xBB\xBF[G]\nname = Gr\xC3\xBC\xC3\x9F\n", "Stra\xDF\x65", "\xC4", "\xFF",
         "\xEF\xBB\xBF\n[G]\nName = Gr\xC3\xBC\xC3\x9F\n[Stra\xC3\x9F\x65]\n\xC3\x84 = \xC3\xBF\n",
         [] {
             PreferenceGroup("G");
             EXPECT_EQ(ReadText("name"), "Gr\xFC\xDF");
             PreferenceWriteText("Name", "Gr\xFC\xDF");
         }}};
    for (const RewriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(settings_, c.before);
        ASSERT_NE(PreferenceOpen(settings_.c_str()), 0);
        if (c.group != nullptr) PreferenceGroup(c.group);
        if (c.key != nullptr) PreferenceWriteText(c.key, c.value);
        if (c.writes) c.writes();
        PreferenceClose();
        EXPECT_EQ(ReadBytes(settings_), c.after);
    }
}

// Made or replaced at close only, where it was created, and after a failed open only if written.
TEST_F(PreferenceTest, FilesAreMadeOrReplacedAtCloseOnly) {
    WriteBytes(settings_, "[Old]\nk = 1\n");
    const std::filesystem::path previous = std::filesystem::current_path();
    ASSERT_EQ(chdir(scratch_.Path().c_str()), 0);
    ASSERT_NE(PreferenceCreate("settings.cfg"), 0);
    ASSERT_EQ(chdir(previous.c_str()), 0);
    EXPECT_EQ(ReadText("k"), "<default>");  // starts empty
    PreferenceWriteInteger("k", INT32_MIN);
    EXPECT_EQ(ReadBytes(settings_), "[Old]\nk = 1\n");
    PreferenceClose();
    EXPECT_EQ(ReadBytes(settings_), "k = -2147483648\n");
    const std::string missing = scratch_.File("missing.cfg");
    for (const bool write : {false, true}) {
        EXPECT_EQ(PreferenceOpen(missing.c_str()), 0);
        if (write) PreferenceWriteText("Port", "4001");
        PreferenceClose();
        EXPECT_EQ(ReadBytes(missing), write ? "Port = 4001\n" : "");
    }
    // Without standard input, the trial file beside the settings is descriptor 0.
    const int input = dup(0);
    close(0);
    const int64_t createdWithoutInput = PreferenceCreate(settings_.c_str());
    PreferenceWriteText("k", "w");
    PreferenceClose();  // the new file and the folder's flush get descriptor 0 too, and free it
    const bool inputLeftFree = fcntl(0, F_GETFD) == -1;
    dup2(input, 0);
    close(input);
    EXPECT_NE(createdWithoutInput, 0);
    EXPECT_TRUE(inputLeftFree);
    EXPECT_EQ(ReadBytes(settings_), "k = w\n");
    EXPECT_EQ(PreferenceCreate(scratch_.File("no/such/dir/settings.cfg").c_str()), 0);
    PreferenceWriteText("k", "v");
    PreferenceClose();
    EXPECT_EQ(NamesIn(scratch_.Path()), (std::vector<std::string>{"missing.cfg", "settings.cfg"}));
    // A settings file that is a link stays one; the file it leads to takes the new text.
    const std::string link = scratch_.File("link.cfg");
    ASSERT_EQ(symlink(settings_.c_str(), link.c_str()), 0);
    ASSERT_NE(PreferenceOpen(link.c_str()), 0);
    PreferenceWriteInteger("k", 7);
    PreferenceClose();
    EXPECT_TRUE(S_ISLNK(StatOf(link).st_mode));
    EXPECT_EQ(ReadBytes(settings_), "k = 7\n");
}

// A replaced file keeps its bits past the umask; a new file gets 0666 narrowed by the umask.
TEST_F(PreferenceTest, ReplacedFilesKeepTheirPermissionBitsAndOwner) {
    const mode_t previousMask = umask(022);
    for (const mode_t mode : {mode_t{0640}, mode_t{0666}}) {
        WriteBytes(settings_, "old");
        ASSERT_EQ(chmod(settings_.c_str(), mode), 0);
        EXPECT_TRUE(ReplaceFileContents(settings_.c_str(), "new", 3)) << std::oct << mode;
        EXPECT_EQ(StatOf(settings_).st_mode & 07777, mode);
    }
    const std::string fresh = scratch_.File("fresh.cfg");
    EXPECT_TRUE(ReplaceFileContents(fresh.c_str(), "new", 3, FileFlush::NotFlushed));
    EXPECT_EQ(StatOf(fresh).st_mode & 07777, 0644u);
    EXPECT_EQ(ReadBytes(settings_), "new");
    errno = EINTR;  // left by an earlier call: no write was interrupted, the bytes go in once
    EXPECT_TRUE(ReplaceFileContents(fresh.c_str(), "newer", 5));
    EXPECT_EQ(ReadBytes(fresh), "newer");
    EXPECT_FALSE(ReplaceFileContents(scratch_.File("gone/fresh.cfg").c_str(), "new", 3));
    umask(previousMask);
    // The owner carries over where the file may be given away (as root), else a member's group.
    gid_t groups[64];
    const int count = getgroups(64, groups);
    const uid_t owner = geteuid() == 0 ? 65534 : geteuid();
    gid_t group = getegid();
    for (int i = 0; owner == geteuid() && i < count; ++i)
        group = groups[i] != getegid() ? groups[i] : group;
    if (owner == geteuid() && group == getegid()) GTEST_SKIP() << "no owner or group to give";
    ASSERT_EQ(chown(settings_.c_str(), owner, group), 0);
    EXPECT_TRUE(ReplaceFileContents(settings_.c_str(), "newer", 5));
    const struct stat given = StatOf(settings_);
    EXPECT_TRUE(given.st_uid == owner && given.st_gid == group);
}

// One who may not give the file away keeps its group if a member; needs the superuser.
TEST_F(PreferenceTest, ANonOwnerKeepsTheGroupItBelongsTo) {
    if (geteuid() != 0) GTEST_SKIP() << "needs the superuser to act as two users";
    const uid_t owner = 65533, writer = 65534;
    const gid_t writersGroup = 65534, sharedGroup = 65533;
    ASSERT_EQ(chmod(scratch_.Path().c_str(), 0777), 0);
    WriteBytes(settings_, "old");
    ASSERT_EQ(chown(settings_.c_str(), owner, sharedGroup), 0);
    ASSERT_EQ(chmod(settings_.c_str(), 0666), 0);
    const pid_t child = fork();
    if (child == 0) {
        const bool replaced = setgroups(1, &sharedGroup) == 0 && setgid(writersGroup) == 0 &&
                              setuid(writer) == 0 &&
                              ReplaceFileContents(settings_.c_str(), "new", 3);
        _exit(replaced ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    const struct stat after = StatOf(settings_);
    EXPECT_EQ(after.st_uid, writer);
    EXPECT_EQ(after.st_gid, sharedGroup);
    EXPECT_EQ(ReadBytes(settings_), "new");
}

TEST_F(PreferenceTest, LinkChainsAreFollowedForFortyLinks) {
    WriteBytes(settings_, "old");
    std::filesystem::path previous = settings_;
    for (int link = 1; link <= 41; ++link) {
        const std::string name = scratch_.File("link" + std::to_string(link));
        const auto target = link % 2 == 0 ? previous : previous.filename();
        ASSERT_EQ(symlink(target.c_str(), name.c_str()), 0);  // odd ones relative to their folder
        previous = name;
    }
    EXPECT_TRUE(ReplaceFileContents(scratch_.File("link40").c_str(), "new", 3));
    EXPECT_FALSE(ReplaceFileContents(scratch_.File("link41").c_str(), "newer", 5));
    EXPECT_EQ(ReadBytes(settings_), "new");
    WriteBytes(scratch_.File("s"), "old");
    ASSERT_EQ(symlink("s", scratch_.File("short").c_str()), 0);  // the shortest link text there is
    EXPECT_TRUE(ReplaceFileContents(scratch_.File("short").c_str(), "new", 3));
    EXPECT_EQ(ReadBytes(scratch_.File("s")), "new");
}

// Saves in a child whose files may not pass 64 bytes: EFBIG, as on a full disk.
TEST_F(PreferenceTest, FullDiskKeepsTheOldFile) {
    const std::string original = "[Server]\nServer = 192.168.1.20\nPort = 4001\n";
    WriteBytes(settings_, original);
    const pid_t child = fork();
    if (child == 0) {
        const rlimit fileLimit{64, 64};
        signal(SIGXFSZ, SIG_IGN);
        if (setrlimit(RLIMIT_FSIZE, &fileLimit) != 0 || PreferenceOpen(settings_.c_str()) == 0)
            _exit(2);
        PreferenceWriteText("Comment", std::string(8192, 'x').c_str());
        PreferenceClose();
        _exit(0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadBytes(settings_), original);
    EXPECT_EQ(NamesIn(scratch_.Path()), std::vector<std::string>{"settings.cfg"});
}

}  // namespace
