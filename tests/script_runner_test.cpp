// The script runner against fake runners: /bin/sh scripts in a scratch directory.
#include "ui/platform/script_runner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>

#include "runtime/child_process.h"
#include "runtime/temp_buffer.h"
#include "tests/support/interrupting_signal.h"
#include "tests/support/scratch_directory.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string RunWith(const std::string& program, const std::string& source,
                    int64_t timeLimitMs = kScriptTimeLimitMs) {
    TempScope scope;
    const std::string result =
        RunScriptWith(program.c_str(), source.c_str(), scope.Start(), timeLimitMs);
    EXPECT_EQ(TempPosition(), scope.Start() + static_cast<int64_t>(result.size()));
    return result;
}

// Gone, or a zombie: an orphan that was killed stays one until the container's init reaps it.
bool IsGoneOrZombie(pid_t pid) {
    const std::string stat = ReadBytes("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return stat.empty() || (close != std::string::npos && stat.compare(close, 3, ") Z") == 0);
}

class ScriptRunnerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(scratch_.Valid()); }
    void TearDown() override {
        AllowScriptRuns();
        EXPECT_LE(waitpid(-1, nullptr, WNOHANG), 0) << "a child was left unreaped";
    }
    std::string Fake(const std::string& name, const std::string& body,
                     fs::perms permissions = fs::perms::owner_all) {
        WriteBytes(In(name), "#!/bin/sh\ncd '" + scratch_.Path() + "'\n" + body + "\n");
        fs::permissions(In(name), permissions);
        return In(name);
    }
    std::string In(const std::string& name) const { return scratch_.File(name); }

    ScratchDirectory scratch_;
};

// What the run prints comes back with one line feed less; "?" for € and emoji, bad bytes dropped.
TEST_F(ScriptRunnerTest, ScriptGoesInAsUtf8AndResultComesBackAsLatin1) {
    const std::string runner = Fake("runner", "cat > received\nprintf 'r\\303\\251sultat\\n'");
    TempScope scope;
    TempAppend("kept");
    EXPECT_STREQ(RunScriptWith(runner.c_str(), "caf\xE9\r\n\xFF\x80", TempPosition()),
                 "r\xE9sultat");
    EXPECT_EQ(ReadBytes(In("received")), "caf\xC3\xA9\r\n\xC3\xBF\xC2\x80");
    EXPECT_EQ(std::string(TempAt(scope.Start()), 4), "kept");
    const std::pair<const char*, const char*> cases[] = {
        {"abc\\n\\n", "abc\n"}, {"a\\r\\n", "a\r"},       {"", ""},
        {"a\\377b", "ab"},      {"\\342\\202\\254", "?"}, {"\\360\\237\\230\\200\\n", "?"}};
    for (const auto& [printed, expected] : cases)
        EXPECT_EQ(RunWith(Fake("printer", std::string("printf '") + printed + "'"), "x"), expected)
            << printed;
}

// The runner is looked up on PATH, by a plain name only; no room for the path finds nothing.
TEST_F(ScriptRunnerTest, RunnersAreFoundOnThePath) {
    char path[4096];
    ASSERT_TRUE(FindProgramOnPath("sh", path, sizeof path));
    EXPECT_TRUE(std::string(path).ends_with("/sh") && access(path, X_OK) == 0) << path;
    EXPECT_FALSE(FindProgramOnPath("navlume-no-such-runner", path, sizeof path));
    EXPECT_STREQ(path, "");
    for (const char* name : {"bin/sh", "", static_cast<const char*>(nullptr)})
        EXPECT_FALSE(FindProgramOnPath(name, path, sizeof path)) << (name ? name : "null");
    EXPECT_FALSE(FindProgramOnPath("sh", path, 4));
}

// A changed PATH is searched again at once, without waiting for the cache to age.
TEST_F(ScriptRunnerTest, TheRunnerFollowsAChangedPath) {
    const std::string saved = getenv("PATH") ? getenv("PATH") : "";
    for (const char* name : {"a", "b"}) {
        fs::create_directory(In(name));
        Fake(std::string(name) + "/osascript", std::string("printf ") + name);
    }
    const std::pair<const char*, const char*> steps[] = {{"a", "a"}, {"b", "b"}, {"none", ""}};
    for (const auto& [directory, expected] : steps) {
        setenv("PATH", In(directory).c_str(), 1);
        TempScope scope;
        EXPECT_STREQ(RunAppleScript("x", scope.Start()), expected) << directory;
    }
    setenv("PATH", saved.c_str(), 1);
}

TEST_F(ScriptRunnerTest, FailuresGiveTheEmptyText) {
    fs::create_directory(In("directory"));
    const std::string exits = Fake("exits-1", "cat > /dev/null\necho partial\nexit 1");
    const std::string killed = Fake("killed", "echo partial\nkill -9 $$");
    const std::string locked = Fake("not-executable", "echo hello", fs::perms::owner_read);
    const std::string programs[] = {exits, killed, locked, In("missing"), In("directory"), ""};
    for (const auto& program : programs)
        EXPECT_EQ(RunWith(program, "script"), "") << program;
    TempScope scope;
    EXPECT_STREQ(RunScriptWith(nullptr, "script", scope.Start()), "");
}

// The echoing runner writes while it is fed: unless both directions run at once, both pipes fill
// for ever. Output beyond the limit is dropped; a runner that stops reading early is no failure.
TEST_F(ScriptRunnerTest, LargeScriptsAndOutputsDoNotDeadlock) {
    std::string source;
    while (source.size() < (4u << 20))
        source += "0123456789abcdef\xE9";
    const std::string echoed = RunWith(Fake("echo", "exec cat"), source);
    EXPECT_TRUE(echoed.size() > kScriptOutputLimit * 9 / 10 && echoed.size() <= kScriptOutputLimit)
        << echoed.size();
    EXPECT_EQ(source.compare(0, echoed.size(), echoed), 0);
    // Every byte goes in (each é as two), also while output waits to be read.
    RunWith(Fake("tee", "exec tee received"), source);
    EXPECT_EQ(fs::file_size(In("received")), source.size() / 17 * 18);
    const std::string impatient = "head -c 1 > /dev/null\nexec 0<&-\nprintf ok";
    EXPECT_EQ(RunWith(Fake("impatient", impatient), std::string(8u << 20, 's')), "ok");
}

// Closing its output or holding it open, the runner is awaited within the limit, open to cancel.
TEST_F(ScriptRunnerTest, TheRunEndsWithTheRunnerWhateverItsOutputDoes) {
    // The runner, whether to cancel once it closed its output, the result, the limit (1 ms limits).
    const std::tuple<const char*, bool, const char*, int64_t> cases[] = {
        {"printf 'done\\n'\nexec >&-\nsleep 0.3", false, "done", 1000},
        {"exec sleep 30", false, "", 1},
        {"exec >&-\nexec sleep 30", false, "", 1000},
        {"exec >&-\ntouch closed\nexec sleep 30", true, "", 1000}};
    for (const auto& [body, cancel, expected, limitMs] : cases) {
        const std::string runner = Fake("runner", body);
        const Clock::time_point start = Clock::now();
        std::string result = "not returned";
        // Clang before 16 cannot capture a structured binding, so the limit goes in as a copy.
        std::thread worker([&, limit = limitMs] { result = RunWith(runner, "x", limit); });
        if (cancel) {
            EXPECT_TRUE(WaitFor([&] { return fs::exists(In("closed")); }, 5000));
            CancelScriptRuns();
        }
        worker.join();
        AllowScriptRuns();
        EXPECT_EQ(result, expected) << body;
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(cancel ? 900 : 3000)) << body;
    }
}

TEST_F(ScriptRunnerTest, SignalsDuringTheRunAreWaitedOut) {
    const InterruptingSignal interrupt;
    const std::string runner = Fake("slow", "cat > /dev/null\nsleep 0.3\nprintf late");
    std::atomic<bool> done{false};
    std::string result;
    std::thread worker([&] {
        result = RunWith(runner, "script");
        done = true;
    });
    while (!done) {
        interrupt.Send(worker);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    worker.join();
    EXPECT_EQ(result, "late");
}

// Even a runner ignoring SIGTERM, or with SIGCHLD ignored; none starts until runs are allowed.
TEST_F(ScriptRunnerTest, CancelEndsAHangingRunAndEverythingItStarted) {
    const std::pair<const char*, bool> cases[] = {
        {"", false}, {"trap '' TERM\n", false}, {"trap '' TERM\n", true}};
    for (const auto& [prelude, reapedBySystem] : cases) {
        fs::remove(In("sleeper.pid"));
        if (reapedBySystem) signal(SIGCHLD, SIG_IGN);
        const std::string runner =
            Fake("hang", std::string(prelude) +
                             "sleep 30 &\necho $! > pid.tmp\nmv pid.tmp sleeper.pid\nwait");
        std::string result = "not returned";
        std::thread worker([&] { result = RunWith(runner, "script"); });
        const bool started = WaitFor([&] { return fs::exists(In("sleeper.pid")); }, 5000);
        const Clock::time_point before = Clock::now();
        CancelScriptRuns();
        worker.join();
        signal(SIGCHLD, SIG_DFL);
        ASSERT_TRUE(started) << prelude;
        EXPECT_EQ(result, "") << prelude;
        EXPECT_LT(Clock::now() - before, std::chrono::seconds(2)) << prelude;
        const pid_t sleeper = static_cast<pid_t>(std::stol(ReadBytes(In("sleeper.pid"))));
        EXPECT_TRUE(WaitFor([&] { return IsGoneOrZombie(sleeper); }, 5000)) << prelude;
        const std::string recorder = Fake("recorder", "touch ran\nprintf x");
        EXPECT_EQ(RunWith(recorder, "script"), "");
        EXPECT_FALSE(fs::exists(In("ran")));
        AllowScriptRuns();
        EXPECT_EQ(RunWith(recorder, "script"), "x");
        fs::remove(In("ran"));
    }
}

}  // namespace
