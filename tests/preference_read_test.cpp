// Reading preference files: how bytes become groups, keys and values, and which files open.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <string>

#include "runtime/preference_file.h"
#include "runtime/temp_buffer.h"
#include "tests/support/scratch_directory.h"

using namespace std::string_literals;

namespace {

std::string ReadText(const char* key) {
    TempScope scope;
    return PreferenceReadText(key, "<default>", scope.start());
}

class PreferenceReadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.valid());
        PreferenceLibraryInit();
    }
    void TearDown() override { PreferenceLibraryEnd(); }

    ScratchDirectory scratch_;
    std::string settings_ = scratch_.File("settings.cfg");
};

const std::string kTrackerFile = "[Server]\nServer = 127.0.0.1\nPort = 10000\n[GE]\nZoom = 1500\n";

TEST_F(PreferenceReadTest, BytesBecomeGroupsKeysAndValues) {
    struct Case {
        std::string bytes;
        const char* group;
        const char* key;
        const char* text;  // "<default>": no such key
        int64_t integer;   // PreferenceReadInteger with the default 77
    };
    const Case cases[] = {
        {kTrackerFile, "sErVeR", "PORT", "10000", 10000},
        {kTrackerFile, "Server", "Zoom", "<default>", 77},    // key of another group
        {kTrackerFile, "Missing", "Port", "<default>", 77},   // no fallback to another group
        {"Top = 1\n[G]\nK = 2\n", "", "K", "<default>", 77},  // top section ends at a header
        {"Top = 1\n[G]\nK = 2\n", nullptr, "top", "1", 1},
        {"[G]\nk \t=   spaced value \t\n", "G", "k", "spaced value", 0},
        {"[G]\rk=v\rm=w\r", "G", "m", "w", 0},
        {"[Group name\nk = v\n", "Group name", "k", "v", 0},
        {"[G]\nalone  \t\nnext = 5\n", "G", "alone", "", 0},
        {"[G]\nalone\nnext = 5\n", "G", "next", "5", 5},
        {"[G]\n; k = 1\nk = 2\n", "G", "k", "2", 2},
        {"[G]\nk = 1\nK = 2\n", "G", "k", "1", 1},
        {"[G]\nk = 1\n[g]\nk = 2\n", "g", "k", "1", 1},
        {"[G]\nk = a\0b\nm = c\n"s, "G", "m", "c", 0},
        {"[G]\nk = M\xFCnchen\n", "G", "k", "M\xFCnchen", 0},
        {"\xEF\xBB\xBF[G]\nk = Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\n", "G", "k", "Gr\xFC\xDF ?", 0},
        {"\xEF\xBB\xBF[Stra\xC3\x9F\x65]\nk = v\n", "Stra\xDF\x65", "k", "v", 0},
        // Integers as the C library's atoi: a long (saturating), then its low 32 bits.
        {"k = 12abc", "", "k", "12abc", 12},
        {"k = \v-42", "", "k", "\v-42", -42},
        {"k = - 7", "", "k", "- 7", 0},
        {"k = +2147483648", "", "k", "+2147483648", INT32_MIN},
        {"k = 4294967297", "", "k", "4294967297", 1},
        {"k = 99999999999999999999", "", "k", "99999999999999999999", -1},
        {"k = -99999999999999999999", "", "k", "-99999999999999999999", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        ASSERT_NE(PreferenceOpenBytes(c.bytes.data(), c.bytes.size(), 0), 0);
        PreferenceGroup(c.group);
        EXPECT_EQ(ReadText(c.key), c.text);
        EXPECT_EQ(PreferenceReadInteger(c.key, 77), c.integer);
    }
    PreferenceClose();
    EXPECT_EQ(PreferenceGroup("Server"), 0);  // nothing open
    EXPECT_EQ(ReadText("Port"), "<default>");
}

TEST_F(PreferenceReadTest, ResultFollowsTheTemporaryBufferConvention) {
    const std::string bytes = "[G]\nk = value  \n";
    ASSERT_NE(PreferenceOpenBytes(bytes.data(), bytes.size(), 0), 0);
    PreferenceGroup("G");
    TempScope scope;
    TempAppend("prefix:");
    const int64_t start = TempPosition();
    EXPECT_STREQ(PreferenceReadText("k", "", start), "value");
    EXPECT_EQ(TempPosition(), start + 5);
    EXPECT_STREQ(scope.text(), "prefix:value");

    // A default that lies in the buffer, long enough that copying it makes the buffer move,
    // and then the copy moved down over the text it came from.
    const std::string longDefault(200000, 'd');
    TempSetPosition(scope.start());
    TempAppend(longDefault.c_str());
    const int64_t after = TempPosition();
    EXPECT_EQ(PreferenceReadText("missing", TempAt(scope.start()), after), longDefault);
    EXPECT_EQ(PreferenceReadText("missing", TempAt(after), scope.start()), longDefault);
}

// The tracker's start-up: open, and when that fails, create and write the defaults. Neither a
// FIFO nor a file too large to read is replaced by that; a missing file is made.
TEST_F(PreferenceReadTest, OnlyWhatIsMissingIsCreatedAfterAFailedOpen) {
    const std::string fifo = scratch_.File("fifo.cfg");
    const std::string huge = scratch_.File("huge.cfg");
    const std::string missing = scratch_.File("missing.cfg");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    // Sparse, so it takes no room on the disk.
    WriteBytes(huge, "[Server]\nPort = 1\n");
    ASSERT_EQ(truncate(huge.c_str(), off_t{1} << 31), 0);
    for (const std::string& path : {fifo, huge, missing}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(PreferenceOpen(path.c_str()), 0);
        EXPECT_EQ(PreferenceCreate(path.c_str()), path == missing ? 1 : 0);
        PreferenceGroup("Server");
        PreferenceWriteText("Port", "10000");
        PreferenceClose();
    }
    struct stat status {};
    ASSERT_EQ(lstat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    ASSERT_EQ(stat(huge.c_str(), &status), 0);
    EXPECT_EQ(status.st_size, off_t{1} << 31);
    std::string head(18, '\0');
    std::ifstream(huge, std::ios::binary).read(head.data(), 18);
    EXPECT_EQ(head, "[Server]\nPort = 1\n");
    EXPECT_EQ(ReadBytes(missing), "[Server]\nPort = 10000\n");
    EXPECT_EQ(PreferenceOpen(scratch_.path().c_str()), 0);  // a directory
}

TEST_F(PreferenceReadTest, ClosingWithoutWritesLeavesTheFileUntouched) {
    const std::string original =
        "\r\n  [Server]  old words\r\n;tight comment\n\tPort=1\r\r\nalone\n\n[GE]\nZoom";
    WriteBytes(settings_, original);
    // An old modification time shows whether the file was written again.
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, settings_.c_str(), times, 0), 0);
    ASSERT_NE(PreferenceOpen(settings_.c_str()), 0);
    PreferenceGroup("Server");
    EXPECT_EQ(ReadText("port"), "1");
    PreferenceGroup("NotThere");  // a pending group alone writes nothing
    PreferenceClose();
    struct stat after {};
    ASSERT_EQ(stat(settings_.c_str(), &after), 0);
    EXPECT_EQ(ReadBytes(settings_), original);
    EXPECT_EQ(after.st_mtim.tv_sec, 1000000000);
}

}  // namespace
