#include "ui/platform/script_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/temp_buffer.h"
#include "ui/platform/child_process.h"
#include "ui/platform/program_path.h"

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

// Waits (at most five seconds) until path exists; fake runners announce themselves this way.
bool AppearsWithin5s(const fs::path& path) {
    for (int i = 0; i < 500; ++i) {
        if (fs::exists(path)) return true;
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

bool EndsWithin5s(pid_t pid) {
    for (int i = 0; i < 500; ++i) {
        if (IsGoneOrZombie(pid)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
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
        // Every child was reaped: no zombie of ours is left behind.
        EXPECT_LE(waitpid(-1, nullptr, WNOHANG), 0);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string Fake(const std::string& name, const std::string& body) {
        const fs::path path = dir_ / name;
        WriteFile(path, "#!/bin/sh\n" + body + "\n",
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
        return path.string();
    }

    std::string In(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

TEST_F(ScriptRunnerTest, ScriptGoesInAsUtf8AndResultComesBackAsLatin1) {
    const std::string runner =
        Fake("runner", "cat > '" + In("received") + "'\nprintf 'r\\303\\251sultat \\302\\260\\n'");
    const std::string source = "tell \"caf\xE9\"\r\n\xFF\x80 end";

    TempScope scope;
    TempAppend("kept");
    const int64_t start = TempPosition();
    const std::string result = RunScriptWith(runner.c_str(), source.c_str(), start);

    EXPECT_EQ(result, "r\xE9sultat \xB0");
    EXPECT_EQ(ReadFile(In("received")), "tell \"caf\xC3\xA9\"\r\n\xC3\xBF\xC2\x80 end");
    EXPECT_EQ(std::string(TempAt(scope.start()), 4), "kept");
    EXPECT_EQ(TempPosition(), start + static_cast<int64_t>(result.size()));
}

// The echoing runner prints the script back, so the output is whatever the case needs.
TEST_F(ScriptRunnerTest, OneFinalLineFeedIsDropped) {
    const std::string echo = Fake("echo", "exec cat");
    const struct {
        const char* source;
        const char* expected;
    } cases[] = {
        {"abc\n", "abc"}, {"abc\n\n", "abc\n"}, {"abc", "abc"},           {"", ""},
        {"\n", ""},       {"a\r\n", "a\r"},     {"caf\xE9\n", "caf\xE9"}, {"\xA0\xFF", "\xA0\xFF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RunWith(echo, c.source), c.expected) << "source: " << c.source;
}

TEST_F(ScriptRunnerTest, OutputOutsideLatin1BecomesQuestionMarks) {
    const struct {
        const char* printed;  // printf format, octal escapes
        const char* expected;
    } cases[] = {
        {"\\342\\202\\254 \\360\\237\\230\\200 ok\\n", "? ? ok"},  // euro sign, emoji
        {"a\\377b", "ab"},                                         // not UTF-8 at all
        {"\\303\\277", "\xFF"},
    };
    for (const auto& c : cases) {
        const std::string runner = Fake("printer", std::string("printf '") + c.printed + "'");
        EXPECT_EQ(RunWith(runner, "x"), c.expected) << c.printed;
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
TEST_F(ScriptRunnerTest, LargeScriptAndLargeOutputFlowAtTheSameTime) {
    const std::string echo = Fake("echo", "exec cat");
    std::string source;
    while (source.size() < (4u << 20))
        source += "0123456789abcdef\xE9";
    EXPECT_EQ(RunWith(echo, source), source);
}

TEST_F(ScriptRunnerTest, OutputBeyondTheLimitIsDropped) {
    const std::string runner =
        Fake("chatty", "cat > /dev/null\nhead -c 20000000 /dev/zero | tr '\\000' a");
    const std::string result = RunWith(runner, "x");
    EXPECT_EQ(result.size(), static_cast<size_t>(kScriptOutputLimit));
    EXPECT_EQ(result.find_first_not_of('a'), std::string::npos);
}

// The runner stops reading long before the end of the script: the rest cannot be written, and
// that is no failure of the run.
TEST_F(ScriptRunnerTest, RunnerThatStopsReadingEarly) {
    const std::string runner = Fake("impatient", "head -c 1 > /dev/null\nexec 0<&-\nprintf done");
    EXPECT_EQ(RunWith(runner, std::string(8u << 20, 's')), "done");
}

bool SigpipePending() {
    sigset_t pending;
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

// With the default disposition a stray SIGPIPE would end the test process.
TEST(WriteWithoutSigpipeTest, WriteToAClosedPipeFailsQuietly) {
    struct sigaction previous;
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ASSERT_EQ(sigaction(SIGPIPE, &fallback, &previous), 0);

    int ends[2];
    ASSERT_TRUE(OpenPrivatePipe(ends));
    EXPECT_GT(ends[0], 2);
    EXPECT_GT(ends[1], 2);
    EXPECT_EQ(fcntl(ends[0], F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    EXPECT_EQ(fcntl(ends[1], F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    close(ends[0]);
    errno = 0;
    EXPECT_EQ(WriteWithoutSigpipe(ends[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    EXPECT_FALSE(SigpipePending());

    // A SIGPIPE that was already waiting (blocked by the caller) is not taken away.
    sigset_t pipeOnly;
    sigset_t mask;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &mask);
    pthread_kill(pthread_self(), SIGPIPE);
    EXPECT_EQ(WriteWithoutSigpipe(ends[1], "x", 1), -1);
    EXPECT_TRUE(SigpipePending());
    int taken = 0;
    sigwait(&pipeOnly, &taken);
    pthread_sigmask(SIG_SETMASK, &mask, nullptr);

    close(ends[1]);
    sigaction(SIGPIPE, &previous, nullptr);
}

TEST_F(ScriptRunnerTest, CancelEndsAHangingRunAndEverythingItStarted) {
    const struct {
        const char* name;
        const char* prelude;
    } cases[] = {
        {"sleeper", ""}, {"stubborn", "trap '' TERM\n"},  // needs the SIGKILL after the grace
    };
    for (const auto& c : cases) {
        const fs::path announced = dir_ / (std::string(c.name) + ".pid");
        const std::string runner =
            Fake(c.name, std::string(c.prelude) + "sleep 30 &\necho $! > '" + In("pid.tmp") +
                             "'\nmv '" + In("pid.tmp") + "' '" + announced.string() + "'\nwait");
        std::string result = "not returned";
        std::thread worker([&] { result = RunWith(runner, "script"); });

        const bool started = AppearsWithin5s(announced);
        const auto before = std::chrono::steady_clock::now();
        CancelScriptRuns();
        worker.join();
        const auto elapsed = std::chrono::steady_clock::now() - before;

        ASSERT_TRUE(started) << c.name;
        EXPECT_EQ(result, "") << c.name;
        EXPECT_LT(elapsed, std::chrono::seconds(2)) << c.name;
        const pid_t sleeper = static_cast<pid_t>(std::stol(ReadFile(announced)));
        EXPECT_TRUE(EndsWithin5s(sleeper)) << c.name;
        AllowScriptRuns();
    }
}

TEST_F(ScriptRunnerTest, AfterCancelNoRunnerStartsUntilAllowed) {
    const std::string runner = Fake("recorder", "touch '" + In("ran") + "'\nprintf x");
    CancelScriptRuns();
    EXPECT_EQ(RunWith(runner, "script"), "");
    EXPECT_FALSE(fs::exists(dir_ / "ran"));

    AllowScriptRuns();
    EXPECT_EQ(RunWith(runner, "script"), "x");
    EXPECT_TRUE(fs::exists(dir_ / "ran"));
}

TEST_F(ScriptRunnerTest, RunsFromTwoThreadsKeepTheirOwnTexts) {
    const std::string echo = Fake("echo", "exec cat");
    constexpr int kRunsPerThread = 4;
    std::vector<std::string> inputs[2];
    std::vector<std::string> outputs[2];
    for (int t = 0; t < 2; ++t) {
        for (int i = 0; i < kRunsPerThread; ++i) {
            std::ostringstream text;
            for (int line = 0; text.tellp() < (256 << 10); ++line)
                text << "thread " << t << " run " << i << " line " << line << " \xE9\r\n";
            inputs[t].push_back(text.str() + "end");
        }
    }
    auto work = [&](int t) {
        for (const auto& input : inputs[t])
            outputs[t].push_back(RunWith(echo, input));
    };
    std::thread first(work, 0);
    std::thread second(work, 1);
    first.join();
    second.join();
    for (int t = 0; t < 2; ++t) {
        ASSERT_EQ(outputs[t].size(), inputs[t].size());
        for (int i = 0; i < kRunsPerThread; ++i)
            EXPECT_TRUE(outputs[t][i] == inputs[t][i]) << "thread " << t << " run " << i;
    }
}

// A descriptor of this process, even one opened without close-on-exec, must not reach the
// runner: it would keep pipes of other runs open.
TEST_F(ScriptRunnerTest, RunnerGetsOnlyItsStandardDescriptors) {
    if (!fs::exists("/proc/self/fd")) GTEST_SKIP() << "no /proc here";
    int leaked[2];
    ASSERT_EQ(pipe(leaked), 0);
    const std::string runner = Fake("lister", "cat > /dev/null\nls -l /proc/$$/fd");
    const std::string listing = RunWith(runner, "x");
    close(leaked[0]);
    close(leaked[1]);

    size_t pipes = 0;
    for (size_t at = listing.find("pipe:"); at != std::string::npos;
         at = listing.find("pipe:", at + 1))
        ++pipes;
    EXPECT_EQ(pipes, 2u) << listing;  // standard input and output
    EXPECT_NE(listing.find(" 2 -> /dev/null"), std::string::npos) << listing;
}

TEST_F(ScriptRunnerTest, FindsTheFirstExecutableFileAlongPath) {
    for (const char* folder : {"empty", "plain", "folder", "bin", "later"})
        fs::create_directory(dir_ / folder);
    WriteFile(dir_ / "plain" / "osascript", "#!/bin/sh\necho plain\n", fs::perms::owner_read);
    fs::create_directory(dir_ / "folder" / "osascript");
    Fake("bin/osascript", "/bin/cat > '" + In("received") + "'\nprintf 'from bin\\n'");
    Fake("later/osascript", "printf later");

    const char* saved = std::getenv("PATH");
    const std::string savedPath = saved != nullptr ? saved : "";
    const std::string searched = "/nonexistent-navlume::" + In("empty") + ":" + In("plain") + ":" +
                                 In("folder") + ":" + In("bin") + ":" + In("later");

    setenv("PATH", searched.c_str(), 1);
    char path[512];
    EXPECT_TRUE(FindProgramOnPath("osascript", path, sizeof path));
    EXPECT_EQ(std::string(path), In("bin") + "/osascript");
    EXPECT_FALSE(FindProgramOnPath("bin/osascript", path, sizeof path));
    EXPECT_FALSE(FindProgramOnPath("", path, sizeof path));
    EXPECT_FALSE(FindProgramOnPath("osascript", path, 8));  // the result would not fit

    const ScriptRunner runner = RunAppleScript;
    std::string result;
    {
        TempScope scope;
        result = runner("say \"h\xE9\"", scope.start());
    }
    setenv("PATH", In("empty").c_str(), 1);
    std::string withoutRunner;
    {
        TempScope scope;
        withoutRunner = RunAppleScript("say 1", scope.start());
    }
    if (saved != nullptr)
        setenv("PATH", savedPath.c_str(), 1);
    else
        unsetenv("PATH");

    EXPECT_EQ(result, "from bin");
    EXPECT_EQ(ReadFile(In("received")), "say \"h\xC3\xA9\"");
    EXPECT_EQ(withoutRunner, "");
}

}  // namespace
