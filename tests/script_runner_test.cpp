// The script runner against fake runners: /bin/sh scripts in a scratch directory.
#include "ui/platform/script_runner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "runtime/temp_buffer.h"
#include "tests/support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string RunWith(const std::string& program, const std::string& source,
                    int64_t timeLimitMs = kScriptTimeLimitMs) {
    TempScope scope;
    const std::string result =
        RunScriptWith(program.c_str(), source.c_str(), scope.start(), timeLimitMs);
    EXPECT_EQ(TempPosition(), scope.start() + static_cast<int64_t>(result.size()));
    return result;
}

// Polls `done` every 10 ms for at most five seconds.
template <typename Condition>
bool Within5s(Condition done) {
    for (int i = 0; i < 500 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

bool IsGoneOrZombie(pid_t pid) {
    if (kill(pid, 0) != 0) return errno == ESRCH;
    // An orphan that was killed stays a zombie until the container's init reaps it.
    const std::string stat = ReadBytes("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

class ScriptRunnerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(scratch_.valid()); }
    void TearDown() override {
        AllowScriptRuns();
        EXPECT_LE(waitpid(-1, nullptr, WNOHANG), 0) << "a child was left unreaped";
    }
    // A runner script that starts in the scratch directory.
    std::string Fake(const std::string& name, const std::string& body,
                     fs::perms permissions = fs::perms::owner_all) {
        WriteBytes(In(name), "#!/bin/sh\ncd '" + scratch_.path() + "'\n" + body + "\n");
        fs::permissions(In(name), permissions);
        return In(name);
    }
    std::string In(const std::string& name) const { return scratch_.File(name); }

    ScratchDirectory scratch_;
};

TEST_F(ScriptRunnerTest, ScriptGoesInAsUtf8AndResultComesBackAsLatin1) {
    const std::string runner = Fake("runner", "cat > received\nprintf 'r\\303\\251sultat\\n'");
    TempScope scope;
    TempAppend("kept");
    EXPECT_STREQ(RunScriptWith(runner.c_str(), "caf\xE9\r\n\xFF\x80", TempPosition()),
                 "r\xE9sultat");
    EXPECT_EQ(ReadBytes(In("received")), "caf\xC3\xA9\r\n\xC3\xBF\xC2\x80");
    EXPECT_EQ(std::string(TempAt(scope.start()), 4), "kept");
    // printf format with octal escapes, and what the run gives back: one line feed less, in
    // Latin-1 (a euro sign, an emoji, and bytes that are no UTF-8 at all).
    const std::pair<const char*, const char*> cases[] = {
        {"abc\\n", "abc"},
        {"abc\\n\\n", "abc\n"},
        {"a\\r\\n", "a\r"},
        {"", ""},
        {"\\342\\202\\254 \\360\\237\\230\\200 ok\\n", "? ? ok"},
        {"a\\377b", "ab"}};
    for (const auto& [printed, expected] : cases)
        EXPECT_EQ(RunWith(Fake("printer", std::string("printf '") + printed + "'"), "x"), expected)
            << printed;
}

TEST_F(ScriptRunnerTest, FailuresGiveTheEmptyText) {
    fs::create_directory(In("directory"));
    const std::string programs[] = {Fake("exits-1", "cat > /dev/null\necho partial\nexit 1"),
                                    Fake("killed", "echo partial\nkill -9 $$"),
                                    Fake("not-executable", "echo hello", fs::perms::owner_read),
                                    In("missing"),
                                    In("directory"),
                                    ""};
    for (const auto& program : programs)
        EXPECT_EQ(RunWith(program, "script"), "") << program;
    TempScope scope;
    EXPECT_STREQ(RunScriptWith(nullptr, "script", scope.start()), "");
}

// The echoing runner writes back while it is still being fed: unless the two directions run
// at the same time, both sides fill their pipe and wait for each other for ever. Output beyond
// the limit is dropped; a runner that stops reading early is no failure.
TEST_F(ScriptRunnerTest, LargeScriptsAndOutputsDoNotDeadlock) {
    std::string source;
    while (source.size() < (4u << 20))
        source += "0123456789abcdef\xE9";
    const std::string echoed = RunWith(Fake("echo", "exec cat"), source);
    EXPECT_GT(echoed.size(), static_cast<size_t>(kScriptOutputLimit) * 9 / 10);
    EXPECT_EQ(source.compare(0, echoed.size(), echoed), 0);
    const std::string chatty = "cat > /dev/null\nhead -c 20000000 /dev/zero | tr '\\000' a";
    EXPECT_EQ(RunWith(Fake("chatty", chatty), "x").size(), static_cast<size_t>(kScriptOutputLimit));
    const std::string impatient = "head -c 1 > /dev/null\nexec 0<&-\nprintf ok";
    EXPECT_EQ(RunWith(Fake("impatient", impatient), std::string(8u << 20, 's')), "ok");
}

// How a run ends once the runner's output is done: it may close its output and go on running
// (then its exit is awaited, within the time limit and open to a cancel), or hold its output
// open past the limit.
TEST_F(ScriptRunnerTest, TheRunEndsWithTheRunnerWhateverItsOutputDoes) {
    const struct {
        const char* body;
        bool cancel;  // CancelScriptRuns once the runner has closed its output
        const char* expected;
    } cases[] = {{"printf 'done\\n'\nexec >&-\nsleep 0.3", false, "done"},
                 {"printf 'done\\n'\nexec >&-\nsleep 0.1\nexit 3", false, ""},
                 {"exec sleep 30", false, ""},
                 {"exec >&-\nexec sleep 30", false, ""},
                 {"exec >&-\ntouch closed\nexec sleep 30", true, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const std::string runner = Fake("runner", c.body);
        const Clock::time_point start = Clock::now();
        std::string result = "not returned";
        std::thread worker([&] { result = RunWith(runner, "x", 1000); });
        if (c.cancel) {
            EXPECT_TRUE(Within5s([&] { return fs::exists(In("closed")); }));
            CancelScriptRuns();
        }
        worker.join();
        AllowScriptRuns();
        EXPECT_EQ(result, c.expected);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(c.cancel ? 900 : 3000));
    }
}

TEST_F(ScriptRunnerTest, CancelEndsAHangingRunAndEverythingItStarted) {
    // The stubborn runner ignores SIGTERM and needs the SIGKILL after the grace period.
    for (const char* prelude : {"", "trap '' TERM\n"}) {
        fs::remove(In("sleeper.pid"));
        const std::string runner =
            Fake("hang", std::string(prelude) +
                             "sleep 30 &\necho $! > pid.tmp\nmv pid.tmp sleeper.pid\nwait");
        std::string result = "not returned";
        std::thread worker([&] { result = RunWith(runner, "script"); });
        const bool started = Within5s([&] { return fs::exists(In("sleeper.pid")); });
        const Clock::time_point before = Clock::now();
        CancelScriptRuns();
        worker.join();
        ASSERT_TRUE(started) << prelude;
        EXPECT_EQ(result, "") << prelude;
        EXPECT_LT(Clock::now() - before, std::chrono::seconds(2)) << prelude;
        const pid_t sleeper = static_cast<pid_t>(std::stol(ReadBytes(In("sleeper.pid"))));
        EXPECT_TRUE(Within5s([&] { return IsGoneOrZombie(sleeper); })) << prelude;
        // No runner starts until runs are allowed again.
        const std::string recorder = Fake("recorder", "touch ran\nprintf x");
        EXPECT_EQ(RunWith(recorder, "script"), "");
        EXPECT_FALSE(fs::exists(In("ran")));
        AllowScriptRuns();
        EXPECT_EQ(RunWith(recorder, "script"), "x");
        fs::remove(In("ran"));
    }
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
        fs::create_directory(In(folder));
    Fake("plain/osascript", "echo plain", fs::perms::owner_read);
    fs::create_directory(In("folder/osascript"));
    Fake("bin/osascript", "/bin/cat > received\nprintf 'from bin\\n'");
    const char* saved = std::getenv("PATH");
    const std::string savedPath = saved != nullptr ? saved : "";
    const std::string searched =
        "/nonexistent-navlume::" + In("plain") + ":" + In("folder") + ":" + In("bin");
    std::string results[2];
    const std::string paths[2] = {searched, In("folder")};
    for (int i = 0; i < 2; ++i) {
        setenv("PATH", paths[i].c_str(), 1);
        TempScope scope;
        results[i] = RunAppleScript("say \"h\xE9\"", scope.start());
    }
    saved != nullptr ? setenv("PATH", savedPath.c_str(), 1) : unsetenv("PATH");
    EXPECT_EQ(results[0], "from bin");
    EXPECT_EQ(ReadBytes(In("received")), "say \"h\xC3\xA9\"");
    EXPECT_EQ(results[1], "");
}

}  // namespace
