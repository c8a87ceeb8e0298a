#include "ui/platform/script_runner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "runtime/child_process.h"
#include "runtime/temp_buffer.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& text, fs::perms permissions) {
    std::ofstream(path, std::ios::binary) << text;
    fs::permissions(path, permissions);
}

std::string RunWith(const std::string& program, const std::string& source) {
    TempScope scope;
    const std::string result = RunScriptWith(program.c_str(), source.c_str(), scope.start());
    EXPECT_EQ(TempPosition(), scope.start() + static_cast<int64_t>(result.size()));
    return result;
}

// Polls `done` every 10 ms for at most five seconds.
template <typename Condition>
bool Within5s(Condition done) {
    for (int i = 0; i < 500; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool IsGoneOrZombie(pid_t pid) {
    if (kill(pid, 0) != 0) return errno == ESRCH;
    // An orphan that was killed stays a zombie until the container's init reaps it.
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

// Fake runners are /bin/sh scripts in a private directory.
class ScriptRunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "navlume-runner-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        AllowScriptRuns();
        EXPECT_LE(waitpid(-1, nullptr, WNOHANG), 0) << "a child was left unreaped";
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string Fake(const std::string& name, const std::string& body) {
        WriteFile(dir_ / name, "#!/bin/sh\n" + body + "\n", fs::perms::owner_all);
        return In(name);
    }
    std::string In(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

TEST_F(ScriptRunnerTest, ScriptGoesInAsUtf8AndResultComesBackAsLatin1) {
    const std::string runner =
        Fake("runner", "cat > '" + In("received") + "'\nprintf 'r\\303\\251sultat \\302\\260\\n'");
    TempScope scope;
    TempAppend("kept");
    const int64_t start = TempPosition();
    const std::string result = RunScriptWith(runner.c_str(), "caf\xE9\r\n\xFF\x80", start);
    EXPECT_EQ(result, "r\xE9sultat \xB0");
    EXPECT_EQ(ReadFile(In("received")), "caf\xC3\xA9\r\n\xC3\xBF\xC2\x80");
    EXPECT_EQ(std::string(TempAt(scope.start()), 4), "kept");
}

TEST_F(ScriptRunnerTest, OutputIsCutToOneLineFeedLessAndLatin1) {
    // printf format with octal escapes, and what the run gives back.
    const std::pair<const char*, const char*> cases[] = {
        {"abc\\n", "abc"},
        {"abc\\n\\n", "abc\n"},
        {"a\\r\\n", "a\r"},
        {"", ""},
        {"\\342\\202\\254 \\360\\237\\230\\200 ok\\n", "? ? ok"},  // euro sign, emoji
        {"a\\377b", "ab"},                                         // not UTF-8 at all
    };
    for (const auto& [printed, expected] : cases) {
        const std::string runner = Fake("printer", std::string("printf '") + printed + "'");
        EXPECT_EQ(RunWith(runner, "x"), expected) << printed;
    }
}

TEST_F(ScriptRunnerTest, FailuresGiveTheEmptyText) {
    fs::create_directory(dir_ / "directory");
    WriteFile(dir_ / "not-executable", "#!/bin/sh\necho hello\n", fs::perms::owner_read);
    WriteFile(dir_ / "bad-interpreter", "#!/nonexistent/sh\necho hello\n", fs::perms::owner_all);
    const std::string programs[] = {
        Fake("exits-1", "cat > /dev/null\necho partial\nexit 1"),
        Fake("killed", "echo partial\nkill -9 $$"),
        In("bad-interpreter"),
        In("missing"),
        In("directory"),
        In("not-executable"),
        "",
    };
    for (const auto& program : programs)
        EXPECT_EQ(RunWith(program, "script"), "") << program;
    TempScope scope;
    EXPECT_STREQ(RunScriptWith(nullptr, "script", scope.start()), "");
}

// The echoing runner writes back while it is still being fed: unless the two directions run
// at the same time, both sides fill their pipe and wait for each other for ever.
TEST_F(ScriptRunnerTest, LargeScriptsAndOutputsDoNotDeadlock) {
    std::string source;
    while (source.size() < (4u << 20))
        source += "0123456789abcdef\xE9";
    const std::string echoed = RunWith(Fake("echo", "exec cat"), source);
    EXPECT_GT(echoed.size(), static_cast<size_t>(kScriptOutputLimit) * 9 / 10);
    EXPECT_EQ(source.compare(0, echoed.size(), echoed), 0);

    // Output beyond the limit is dropped.
    const std::string chatty =
        RunWith(Fake("chatty", "cat > /dev/null\nhead -c 20000000 /dev/zero | tr '\\000' a"), "x");
    EXPECT_EQ(chatty.size(), static_cast<size_t>(kScriptOutputLimit));

    // A runner that stops reading early leaves the rest unwritten, which is no failure.
    const std::string impatient = Fake("impatient", "head -c 1 > /dev/null\nexec 0<&-\nprintf ok");
    EXPECT_EQ(RunWith(impatient, std::string(8u << 20, 's')), "ok");
}

// How a run ends once the runner's output is done: it may close its output and go on running
// (then its exit is awaited, within the time limit and open to a cancel), or hold its output
// open past the limit.
TEST_F(ScriptRunnerTest, TheRunEndsWithTheRunnerWhateverItsOutputDoes) {
    struct Case {
        const char* body;
        bool cancel;  // CancelScriptRuns once the runner has closed its output
        const char* expected;
    };
    const Case cases[] = {{"printf 'done\\n'\nexec >&-\nsleep 0.3", false, "done"},
                          {"printf 'done\\n'\nexec >&-\nsleep 0.1\nexit 3", false, ""},
                          {"exec sleep 30", false, ""},
                          {"exec >&-\nexec sleep 30", false, ""},
                          {"exec >&-\ntouch closed\nexec sleep 30", true, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        const std::string runner =
            Fake("runner", std::string("cd '") + dir_.string() + "'\n" + c.body);
        const auto start = std::chrono::steady_clock::now();
        std::string result = "not returned";
        std::thread worker([&] {
            TempScope scope;
            result = RunScriptWith(runner.c_str(), "x", scope.start(), 1000);
        });
        if (c.cancel) {
            EXPECT_TRUE(Within5s([&] { return fs::exists(dir_ / "closed"); }));
            CancelScriptRuns();
        }
        worker.join();
        AllowScriptRuns();
        EXPECT_EQ(result, c.expected);
        EXPECT_LT(std::chrono::steady_clock::now() - start,
                  std::chrono::milliseconds(c.cancel ? 900 : 3000));
    }
}

TEST_F(ScriptRunnerTest, CancelEndsAHangingRunAndEverythingItStarted) {
    // The stubborn runner ignores SIGTERM and needs the SIGKILL after the grace period.
    for (const char* prelude : {"", "trap '' TERM\n"}) {
        const fs::path announced = dir_ / "sleeper.pid";
        fs::remove(announced);
        const std::string runner =
            Fake("hang", std::string(prelude) + "sleep 30 &\necho $! > '" + In("pid.tmp") +
                             "'\nmv '" + In("pid.tmp") + "' '" + announced.string() + "'\nwait");
        std::string result = "not returned";
        std::thread worker([&] { result = RunWith(runner, "script"); });
        const bool started = Within5s([&] { return fs::exists(announced); });
        const auto before = std::chrono::steady_clock::now();
        CancelScriptRuns();
        worker.join();
        const auto elapsed = std::chrono::steady_clock::now() - before;

        ASSERT_TRUE(started) << prelude;
        EXPECT_EQ(result, "") << prelude;
        EXPECT_LT(elapsed, std::chrono::seconds(2)) << prelude;
        const pid_t sleeper = static_cast<pid_t>(std::stol(ReadFile(announced)));
        EXPECT_TRUE(Within5s([&] { return IsGoneOrZombie(sleeper); })) << prelude;

        // No runner starts until runs are allowed again.
        const std::string recorder = Fake("recorder", "touch '" + In("ran") + "'\nprintf x");
        EXPECT_EQ(RunWith(recorder, "script"), "");
        EXPECT_FALSE(fs::exists(dir_ / "ran"));
        AllowScriptRuns();
        EXPECT_EQ(RunWith(recorder, "script"), "x");
        fs::remove(dir_ / "ran");
    }
}

TEST_F(ScriptRunnerTest, RunsFromTwoThreadsKeepTheirOwnTexts) {
    const std::string echo = Fake("echo", "exec cat");
    bool allSame[2] = {false, false};
    auto work = [&](int t) {
        allSame[t] = true;
        for (int i = 0; i < 4; ++i) {
            std::string input;
            for (int line = 0; input.size() < 3000; ++line)
                input += "thread " + std::to_string(t) + " run " + std::to_string(i) + " line " +
                         std::to_string(line) + " \xE9\r\n";
            input += "end";  // no final line feed, which would be dropped
            allSame[t] = allSame[t] && RunWith(echo, input) == input;
        }
    };
    std::thread first(work, 0);
    std::thread second(work, 1);
    first.join();
    second.join();
    EXPECT_TRUE(allSame[0]);
    EXPECT_TRUE(allSame[1]);
}

// A descriptor of this process, even one opened without close-on-exec, must not reach the
// runner: it would keep pipes of other runs open.
TEST_F(ScriptRunnerTest, RunnerGetsOnlyItsStandardDescriptors) {
    int leaked[2];
    ASSERT_EQ(pipe(leaked), 0);
    const std::string listing = RunWith(Fake("lister", "cat > /dev/null\nls -l /proc/$$/fd"), "x");
    close(leaked[0]);
    close(leaked[1]);
    size_t pipes = 0;
    for (size_t at = listing.find("pipe:"); at != std::string::npos;
         at = listing.find("pipe:", at + 1))
        ++pipes;
    EXPECT_EQ(pipes, 2u) << listing;  // standard input and output
}

TEST_F(ScriptRunnerTest, FindsTheFirstExecutableFileAlongPath) {
    for (const char* folder : {"plain", "folder", "bin"})
        fs::create_directory(dir_ / folder);
    WriteFile(dir_ / "plain" / "osascript", "#!/bin/sh\necho plain\n", fs::perms::owner_read);
    fs::create_directory(dir_ / "folder" / "osascript");
    Fake("bin/osascript", "/bin/cat > '" + In("received") + "'\nprintf 'from bin\\n'");

    const char* saved = std::getenv("PATH");
    const std::string savedPath = saved != nullptr ? saved : "";
    const std::string searched =
        "/nonexistent-navlume::" + In("plain") + ":" + In("folder") + ":" + In("bin");
    setenv("PATH", searched.c_str(), 1);
    std::string result, withoutRunner;
    {
        TempScope scope;
        result = RunAppleScript("say \"h\xE9\"", scope.start());
    }
    setenv("PATH", In("folder").c_str(), 1);
    {
        TempScope scope;
        withoutRunner = RunAppleScript("say 1", scope.start());
    }
    saved != nullptr ? setenv("PATH", savedPath.c_str(), 1) : unsetenv("PATH");
    EXPECT_EQ(result, "from bin");
    EXPECT_EQ(ReadFile(In("received")), "say \"h\xC3\xA9\"");
    EXPECT_EQ(withoutRunner, "");
}

}  // namespace
