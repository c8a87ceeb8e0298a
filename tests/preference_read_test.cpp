// Reading preference files: how the bytes on disk become groups, keys and values.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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
        {"second group", kTrackerFile, "ge", "zoom", "1500"},
        {"top section", "Top = 1\n[G]\nK = 2\n", "", "top", "1"},
        {"top section ends at the first header", "Top = 1\n[G]\nK = 2\n", "", "K", std::nullopt},
        {"lines before the header are not in the group", "k = top\n[G]\n", "G", "k", std::nullopt},
        {"surrounding blanks removed", "[G]\nk \t=   spaced value \t\n", "G", "k", "spaced value"},
        {"carriage returns end lines", "[G]\rk=v\rm=w\r", "G", "m", "w"},
        {"runs of CR and LF", "\r\n\r\n[G]\n\r\n\rk = v\r\n\r\n", "G", "k", "v"},
        {"leading blanks ignored", "  \t[G]\n\t  k = v\n", "G", "k", "v"},
        {"header without ]", "[Group name\nk = v\n", "Group name", "k", "v"},
        {"text after ] ignored", "[G] trailing words\nk = v\n", "G", "k", "v"},
        {"blanks inside the name belong to it", "[ G x ]\nk = v\n", " G x ", "k", "v"},
        {"key line without =", "[G]\nalone\nnext = 5\n", "G", "alone", ""},
        {"line after a key without = keeps its key", "[G]\nalone\nnext = 5\n", "G", "next", "5"},
        {"key without = at the end of the file", "[G]\nalone", "G", "alone", ""},
        {"key without = with trailing blanks", "[G]\nalone  \t\nnext = 5\n", "G", "alone", ""},
        {"empty value", "[G]\nk =\nm = 2\n", "G", "k", ""},
        {"= inside the value", "[G]\nk = a=b\n", "G", "k", "a=b"},
        {"empty key", "[G]\n= v\n", "G", "", "v"},
        {"comments are skipped", "[G]\n; k = 1\nk = 2\n", "G", "k", "2"},
        {"first of two equal keys", "[G]\nk = 1\nK = 2\n", "G", "k", "1"},
        {"first of two equal groups", "[G]\nk = 1\n[g]\nk = 2\n", "g", "k", "1"},
        {"no line end at the end", "[G]\nk = v", "G", "k", "v"},
        {"blanks after the last line end", "[G]\nk = v\n \t ", "G", "k", "v"},
        {"zero byte ends a line", "[G]\nk = a\0b\nm = c\n"s, "G", "m", "c"},
        {"value cut at a zero byte", "[G]\nk = a\0b\nm = c\n"s, "G", "k", "a"},
        {"Latin-1 file returned unchanged", "[G]\nk = M\xFCnchen\n", "G", "k", "M\xFCnchen"},
        {"UTF-8 file read as Latin-1", "\xEF\xBB\xBF[G]\nk = Gr\xC3\xBC\xC3\x9F\n", "G", "k",
         "Gr\xFC\xDF"},
        {"characters above 255 become ?", "\xEF\xBB\xBF[G]\nk = 5 \xE2\x82\xAC\n", "G", "k", "5 ?"},
        {"UTF-8 group name matched from Latin-1", "\xEF\xBB\xBF[Stra\xC3\x9F\x65]\nk = v\n",
         "Stra\xDF\x65", "k", "v"},
        {"blanks bared by a dropped malformed byte", "\xEF\xBB\xBF[G]\nk = \x80 x \n", "G", "k",
         "x"},
        {"mark without text", "\xEF\xBB\xBF", "", "k", std::nullopt},
        {"part of a mark is text", "\xEF\xBB", "", "\xEF\xBB", ""},
        {"one-byte file", "k", "", "k", ""},
    };
    for (const LookupCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(OpenWith(c.file), 0);
        PreferenceGroup(c.group);
        EXPECT_EQ(ReadText(c.key), c.value.value_or("<default>"));
        PreferenceClose();
    }
}

TEST_F(PreferenceReadTest, GroupResult) {
    ASSERT_NE(OpenWith(kTrackerFile), 0);
    EXPECT_EQ(PreferenceGroup("GE"), 1);
    EXPECT_EQ(PreferenceGroup("server"), 1);
    EXPECT_EQ(PreferenceGroup(""), 1);
    EXPECT_EQ(PreferenceGroup(nullptr), 1);
    EXPECT_EQ(PreferenceGroup("Missing"), 0);
    PreferenceClose();
    EXPECT_EQ(PreferenceGroup("GE"), 0);  // nothing open
}

TEST_F(PreferenceReadTest, PendingGroupGivesDefaults) {
    ASSERT_NE(OpenWith(kTrackerFile), 0);
    ASSERT_EQ(PreferenceGroup("Server"), 1);
    // The missing group does not fall back to the group selected before it.
    EXPECT_EQ(PreferenceGroup("Missing"), 0);
    EXPECT_EQ(ReadText("Port"), "<default>");
    EXPECT_EQ(PreferenceReadInteger("Port", 7), 7);
    EXPECT_EQ(PreferenceGroup("Server"), 1);
    EXPECT_EQ(ReadText("Port"), "10000");
}

TEST_F(PreferenceReadTest, IntegerValues) {
    struct IntegerCase {
        const char* value;
        int64_t expected;
    } cases[] = {
        {"1500", 1500},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {" -42", -42},
        {"+7", 7},
        {"- 7", 0},
        {"-2147483648", INT32_MIN},
        // As the C library's atoi: read as a long, the low 32 bits kept.
        {"2147483648", INT32_MIN},
        {"4294967297", 1},
        {"99999999999999999999", -1},
        {"-99999999999999999999", 0},
    };
    for (const IntegerCase& c : cases) {
        SCOPED_TRACE(c.value);
        ASSERT_NE(OpenWith(std::string("[GE]\nZoom = ") + c.value + "\n"), 0);
        PreferenceGroup("GE");
        EXPECT_EQ(PreferenceReadInteger("zoom", 77), c.expected);
        EXPECT_EQ(PreferenceReadInteger("Missing", -5), -5);
        PreferenceClose();
    }
}

TEST_F(PreferenceReadTest, ResultFollowsTheTemporaryBufferConvention) {
    ASSERT_NE(OpenWith("[G]\nk = value  \n"), 0);
    PreferenceGroup("G");
    TempScope scope;
    TempAppend("prefix:");
    const int64_t start = TempPosition();
    const char* value = PreferenceReadText("k", "", start);
    EXPECT_STREQ(value, "value");
    EXPECT_EQ(TempPosition(), start + 5);
    EXPECT_STREQ(scope.text(), "prefix:value");
}

TEST_F(PreferenceReadTest, DefaultMayLieInTheTemporaryBuffer) {
    ASSERT_NE(OpenWith("[G]\n"), 0);
    PreferenceGroup("G");
    TempScope scope;
    // Long enough that copying it makes the buffer grow and move.
    const std::string longDefault(200000, 'd');
    TempAppend(longDefault.c_str());
    const int64_t after = TempPosition();
    EXPECT_EQ(std::string(PreferenceReadText("missing", TempAt(scope.start()), after)),
              longDefault);
    // The copy just made, moved down over the text it came from.
    EXPECT_EQ(std::string(PreferenceReadText("missing", TempAt(after), scope.start())),
              longDefault);
    EXPECT_EQ(TempPosition(), scope.start() + static_cast<int64_t>(longDefault.size()));
    EXPECT_EQ(ReadText("missing", nullptr), "");
}

TEST_F(PreferenceReadTest, NothingOpenGivesDefaults) {
    EXPECT_EQ(ReadText("Port", "10000"), "10000");
    EXPECT_EQ(PreferenceReadInteger("Zoom", 500), 500);
    // A missing file keeps a detached state with the same answers.
    EXPECT_EQ(PreferenceOpen(scratch_.File("missing.cfg").c_str()), 0);
    EXPECT_EQ(ReadText("Port", "10000"), "10000");
    EXPECT_EQ(PreferenceOpen(nullptr), 0);
    EXPECT_EQ(ReadText("Port", ""), "");
}

TEST_F(PreferenceReadTest, OnlyRegularFilesOpen) {
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
}

TEST_F(PreferenceReadTest, FileOverTwoGigabytesIsRefusedAndKept) {
    // Sparse, so it takes no room on the disk.
    WriteBytes(settings_, "");
    const off_t size = off_t{1} << 31;
    ASSERT_EQ(truncate(settings_.c_str(), size), 0);
    EXPECT_EQ(PreferenceOpen(settings_.c_str()), 0);
    EXPECT_EQ(ReadText("k"), "<default>");
    PreferenceWriteText("k", "v");
    PreferenceClose();
    struct stat status {};
    ASSERT_EQ(stat(settings_.c_str(), &status), 0);
    EXPECT_EQ(status.st_size, size);
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
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

}  // namespace
