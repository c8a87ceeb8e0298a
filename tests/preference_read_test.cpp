// Reading preference files: how the bytes on disk become groups, keys and values.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <optional>
#include <string>

#include "runtime/preference_file.h"
#include "runtime/temp_buffer.h"
#include "tests/support/scratch_directory.h"

using namespace std::string_literals;

namespace {

// The text that PreferenceReadText gives, with the temporary buffer put back afterwards.
std::string ReadText(const char* key, const char* defaultText = "<default>") {
    TempScope scope;
    return PreferenceReadText(key, defaultText, scope.start());
}

class PreferenceReadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.valid());
        PreferenceLibraryInit();
    }
    void TearDown() override { PreferenceLibraryEnd(); }

    // Writes bytes to a settings file and opens it.
    int64_t OpenWith(const std::string& bytes) {
        WriteBytes(settings_, bytes);
        return PreferenceOpen(settings_.c_str());
    }

    ScratchDirectory scratch_;
    std::string settings_ = scratch_.File("settings.cfg");
};

struct LookupCase {
    const char* name;
    std::string file;
    const char* group;
    const char* key;
    std::optional<std::string> value;  // nullopt: the default comes back
};

const std::string kTrackerFile = "[Server]\nServer = 127.0.0.1\nPort = 10000\n[GE]\nZoom = 1500\n";

TEST_F(PreferenceReadTest, LinesBecomeGroupsKeysAndValues) {
    const LookupCase cases[] = {
        {"group and key in any case", kTrackerFile, "sErVeR", "PORT", "10000"},
        {"key of another group", kTrackerFile, "Server", "Zoom", std::nullopt},
        {"top section ends at the first header", "Top = 1\n[G]\nK = 2\n", "", "K", std::nullopt},
        {"surrounding blanks removed", "[G]\nk \t=   spaced value \t\n", "G", "k", "spaced value"},
        {"carriage returns end lines", "[G]\rk=v\rm=w\r", "G", "m", "w"},
        {"header without ]", "[Group name\nk = v\n", "Group name", "k", "v"},
        {"key line without =", "[G]\nalone  \t\nnext = 5\n", "G", "alone", ""},
        {"line after a key without = keeps its key", "[G]\nalone\nnext = 5\n", "G", "next", "5"},
        {"comments are skipped", "[G]\n; k = 1\nk = 2\n", "G", "k", "2"},
        {"first of two equal keys", "[G]\nk = 1\nK = 2\n", "G", "k", "1"},
        {"first of two equal groups", "[G]\nk = 1\n[g]\nk = 2\n", "g", "k", "1"},
        {"zero byte ends a line", "[G]\nk = a\0b\nm = c\n"s, "G", "m", "c"},
        {"Latin-1 file returned unchanged", "[G]\nk = M\xFCnchen\n", "G", "k", "M\xFCnchen"},
        {"UTF-8 file read as Latin-1", "\xEF\xBB\xBF[G]\nk = Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\n",
         "G", "k", "Gr\xFC\xDF ?"},
        {"UTF-8 group name matched from Latin-1", "\xEF\xBB\xBF[Stra\xC3\x9F\x65]\nk = v\n",
         "Stra\xDF\x65", "k", "v"},
    };
    for (const LookupCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(OpenWith(c.file), 0);
        PreferenceGroup(c.group);
        EXPECT_EQ(ReadText(c.key), c.value.value_or("<default>"));
        PreferenceClose();
    }
}

TEST_F(PreferenceReadTest, PendingGroupGivesDefaults) {
    ASSERT_NE(OpenWith(kTrackerFile), 0);
    ASSERT_EQ(PreferenceGroup("Server"), 1);
    // The missing group does not fall back to the group selected before it.
    EXPECT_EQ(PreferenceGroup("Missing"), 0);
    EXPECT_EQ(ReadText("Port"), "<default>");
    EXPECT_EQ(PreferenceReadInteger("Port", 7), 7);
    EXPECT_EQ(PreferenceGroup("server"), 1);
    EXPECT_EQ(ReadText("Port"), "10000");
    PreferenceClose();
    EXPECT_EQ(PreferenceGroup("Server"), 0);  // nothing open
}

TEST_F(PreferenceReadTest, IntegerValues) {
    // As the C library's atoi: read as a long, the low 32 bits kept.
    const std::pair<const char*, int64_t> cases[] = {
        {"12abc", 12},
        {"abc", 0},
        {" -42", -42},
        {"- 7", 0},
        {"2147483648", INT32_MIN},
        {"99999999999999999999", -1},
    };
    for (const auto& [value, expected] : cases) {
        ASSERT_NE(OpenWith(std::string("[GE]\nZoom = ") + value + "\n"), 0);
        PreferenceGroup("GE");
        EXPECT_EQ(PreferenceReadInteger("zoom", 77), expected) << value;
        PreferenceClose();
    }
}

TEST_F(PreferenceReadTest, ResultFollowsTheTemporaryBufferConvention) {
    ASSERT_NE(OpenWith("[G]\nk = value  \n"), 0);
    PreferenceGroup("G");
    TempScope scope;
    TempAppend("prefix:");
    const int64_t start = TempPosition();
    EXPECT_STREQ(PreferenceReadText("k", "", start), "value");
    EXPECT_EQ(TempPosition(), start + 5);
    EXPECT_STREQ(scope.text(), "prefix:value");

    // A default that lies in the buffer, long enough that copying it makes the buffer move.
    const std::string longDefault(200000, 'd');
    TempSetPosition(scope.start());
    TempAppend(longDefault.c_str());
    const int64_t after = TempPosition();
    EXPECT_EQ(std::string(PreferenceReadText("missing", TempAt(scope.start()), after)),
              longDefault);
    // The copy just made, moved down over the text it came from.
    EXPECT_EQ(std::string(PreferenceReadText("missing", TempAt(after), scope.start())),
              longDefault);
}

TEST_F(PreferenceReadTest, OnlyRegularFilesUpToTwoGigabytesOpen) {
    const std::string directory = scratch_.File("folder.cfg");
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    EXPECT_EQ(PreferenceOpen(directory.c_str()), 0);
    // A FIFO without a writer would block a plain open; it must neither block nor be replaced.
    const std::string fifo = scratch_.File("fifo.cfg");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(PreferenceOpen(fifo.c_str()), 0);
    PreferenceWriteText("k", "v");
    PreferenceClose();
    struct stat status {};
    ASSERT_EQ(lstat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));

    // Sparse, so it takes no room on the disk; refused and kept as it is.
    WriteBytes(settings_, "");
    ASSERT_EQ(truncate(settings_.c_str(), off_t{1} << 31), 0);
    EXPECT_EQ(PreferenceOpen(settings_.c_str()), 0);
    PreferenceWriteText("k", "v");
    PreferenceClose();
    ASSERT_EQ(stat(settings_.c_str(), &status), 0);
    EXPECT_EQ(status.st_size, off_t{1} << 31);
}

TEST_F(PreferenceReadTest, ClosingWithoutWritesLeavesTheFileUntouched) {
    const std::string original =
        "\r\n  [Server]  old words\r\n;tight comment\n\tPort=1\r\r\nalone\n\n[GE]\nZoom";
    WriteBytes(settings_, original);
    // An old modification time shows whether the file was written again.
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, settings_.c_str(), times, 0), 0);
    struct stat before {};
    ASSERT_EQ(stat(settings_.c_str(), &before), 0);
    ASSERT_NE(PreferenceOpen(settings_.c_str()), 0);
    PreferenceGroup("Server");
    EXPECT_EQ(ReadText("port"), "1");
    PreferenceGroup("NotThere");  // a pending group alone writes nothing
    PreferenceClose();
    struct stat after {};
    ASSERT_EQ(stat(settings_.c_str(), &after), 0);
    EXPECT_EQ(ReadBytes(settings_), original);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

}  // namespace
