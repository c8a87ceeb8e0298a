#include "ui/platform/script_runner.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "runtime/charset.h"
#include "runtime/child_process.h"
#include "runtime/string_variable.h"
#include "runtime/temp_buffer.h"

namespace {

constexpr const char* kAppleScriptRunner = "osascript";
constexpr size_t kPathCapacity = 4096;
// The runner found along PATH is looked up again at most this often, and whenever PATH
// changes: a search costs a file-system look-up per PATH entry, too much for every position,
// and a runner installed while tracking is still found within a second.
constexpr auto kRunnerSearchInterval = std::chrono::seconds(1);

// A run in progress: the write end of its own cancel pipe. The run watches the read end while
// its runner works; cancelling writes one byte to it. Each run has its own pipe, so a cancel
// reaches exactly the runs in progress, and letting runs start again cannot take it back from
// a run that has not noticed it yet.
struct ActiveRun {
    int cancelWrite = -1;
};

// The runs in progress and the cancel state.
struct RunRegistry {
    std::mutex lock;
    bool cancelled = false;
    std::vector<ActiveRun*> active;
};

// Never destroyed: a detached thread may still be in a run while the process exits.
RunRegistry* Registry() {
    static RunRegistry* const registry = new (std::nothrow) RunRegistry;
    return registry;
}

// Registers a run with its cancel pipe; false (nothing registered) while runs are refused.
bool BeginRun(RunRegistry* registry, ActiveRun* run) {
    std::lock_guard<std::mutex> guard(registry->lock);
    if (registry->cancelled) return false;
    try {
        registry->active.push_back(run);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void EndRun(RunRegistry* registry, ActiveRun* run) {
    std::lock_guard<std::mutex> guard(registry->lock);
    std::erase(registry->active, run);
}

void SendCancel(int fd, int requests) {
    const char wake[2] = {1, 1};
    ssize_t sent;
    do {
        sent = write(fd, wake, static_cast<size_t>(requests));
    } while (sent < 0 && errno == EINTR);
}

// The runner's path along PATH, remembered with the PATH it was found under.
struct RunnerCache {
    std::mutex lock;
    std::string searchPath;
    bool pathSet = false;
    bool found = false;
    char runner[kPathCapacity] = {};
    std::chrono::steady_clock::time_point searchedAt;
    bool searched = false;
};

RunnerCache& Runners() {
    static RunnerCache* const cache = new RunnerCache;
    return *cache;
}

// Copies the runner's path into runner (capacity kPathCapacity); false when there is none.
bool FindRunner(char* runner) {
    RunnerCache& cache = Runners();
    std::lock_guard<std::mutex> guard(cache.lock);
    const char* searchPath = std::getenv("PATH");
    const bool pathSet = searchPath != nullptr;
    const auto now = std::chrono::steady_clock::now();
    const bool samePath = cache.pathSet == pathSet && (!pathSet || cache.searchPath == searchPath);
    if (!cache.searched || !samePath || now - cache.searchedAt >= kRunnerSearchInterval) {
        cache.found = FindProgramOnPath(kAppleScriptRunner, cache.runner, sizeof cache.runner);
        cache.pathSet = pathSet;
        cache.searchPath = pathSet ? searchPath : "";
        cache.searchedAt = now;
        cache.searched = true;
    }
    if (!cache.found) return false;
    std::memcpy(runner, cache.runner, sizeof cache.runner);
    return true;
}

char* EmptyText(int64_t start) {
    TempEmptyAt(start);
    return TempAt(start);
}

// The runner's UTF-8 output as Latin-1 text at start, less one final line feed.
char* OutputToText(const ChildOutput& output, int64_t start) {
    int64_t length = output.length;
    if (length > 0 && output.bytes[length - 1] == '\n') --length;
    char* text = TempReserve(length, start);
    if (text == nullptr) return EmptyText(start);
    int64_t written = 0;
    Utf8ToLatin1(text, &written, output.bytes, length);
    text[written] = '\0';
    TempSetPosition(start + written);
    return text;
}

}  // namespace

char* RunScriptWith(const char* program, const char* source, int64_t start, int64_t timeLimitMs) {
    RunRegistry* registry = Registry();
    // Converted before anything is written to the temporary buffer, where source may lie.
    char* script = TextToUtf8Copy(source);
    ChildOutput output;
    ChildRunResult outcome = ChildRunResult::Failed;
    int cancel[2] = {-1, -1};
    if (registry != nullptr && script != nullptr && OpenPrivatePipe(cancel)) {
        for (const int end : cancel)
            fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
        ActiveRun run{cancel[1]};
        if (BeginRun(registry, &run)) {
            outcome = RunChildProcess(program, script, static_cast<int64_t>(std::strlen(script)),
                                      cancel[0], timeLimitMs, kScriptOutputLimit, &output);
            EndRun(registry, &run);
        }
        close(cancel[0]);
        close(cancel[1]);
    }
    StringFree(script);
    char* text =
        outcome == ChildRunResult::Succeeded ? OutputToText(output, start) : EmptyText(start);
    ChildOutputFree(&output);
    return text;
}

char* RunAppleScript(const char* source, int64_t start) {
    char runner[kPathCapacity];
    if (!FindRunner(runner)) return EmptyText(start);
    return RunScriptWith(runner, source, start);
}

void CancelScriptRuns(ScriptRunEnd end) {
    RunRegistry* registry = Registry();
    if (registry == nullptr) return;
    std::lock_guard<std::mutex> guard(registry->lock);
    registry->cancelled = true;
    // A second request takes the runner's grace away.
    for (const ActiveRun* run : registry->active)
        SendCancel(run->cancelWrite, end == ScriptRunEnd::AtOnce ? 2 : 1);
}

void AllowScriptRuns() {
    RunRegistry* registry = Registry();
    if (registry == nullptr) return;
    std::lock_guard<std::mutex> guard(registry->lock);
    registry->cancelled = false;
}

int ScriptRunsInProgress() {
    RunRegistry* registry = Registry();
    if (registry == nullptr) return 0;
    std::lock_guard<std::mutex> guard(registry->lock);
    return static_cast<int>(registry->active.size());
}
