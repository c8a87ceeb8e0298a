#include "ui/platform/script_runner.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>

#include "runtime/charset.h"
#include "runtime/child_process.h"
#include "runtime/string_variable.h"
#include "runtime/temp_buffer.h"

namespace {

constexpr const char* kAppleScriptRunner = "osascript";
constexpr size_t kPathCapacity = 4096;
// CancelScriptRuns waits this long at most for the runs it ended; ending one takes the
// SIGTERM grace at worst.
constexpr auto kCancelWait = std::chrono::seconds(2);

// The runs in progress and the cancel request. A run watches wakeRead while its runner works;
// cancelling writes one byte to wakeWrite, which leaves wakeRead readable for every run until
// AllowScriptRuns drains it.
struct RunRegistry {
    std::mutex lock;
    std::condition_variable allEnded;
    bool cancelled = false;
    bool wakeSent = false;
    int active = 0;
    int wakeRead = -1;
    int wakeWrite = -1;
};

RunRegistry* NewRegistry() {
    auto* registry = new (std::nothrow) RunRegistry;
    if (registry == nullptr) return nullptr;
    int ends[2];
    if (OpenPrivatePipe(ends)) {
        for (const int end : ends)
            fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
        registry->wakeRead = ends[0];
        registry->wakeWrite = ends[1];
    }
    return registry;
}

// Never destroyed: a detached worker may still be in a run while the process exits.
RunRegistry* Registry() {
    static RunRegistry* const registry = NewRegistry();
    return registry;
}

bool BeginRun(RunRegistry* registry) {
    std::lock_guard<std::mutex> guard(registry->lock);
    if (registry->cancelled) return false;
    ++registry->active;
    return true;
}

void EndRun(RunRegistry* registry) {
    std::lock_guard<std::mutex> guard(registry->lock);
    if (--registry->active == 0) registry->allEnded.notify_all();
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
    if (registry != nullptr && script != nullptr && BeginRun(registry)) {
        outcome = RunChildProcess(program, script, static_cast<int64_t>(std::strlen(script)),
                                  registry->wakeRead, timeLimitMs, kScriptOutputLimit, &output);
        EndRun(registry);
    }
    StringFree(script);
    char* text =
        outcome == ChildRunResult::Succeeded ? OutputToText(output, start) : EmptyText(start);
    ChildOutputFree(&output);
    return text;
}

char* RunAppleScript(const char* source, int64_t start) {
    char runner[kPathCapacity];
    if (!FindProgramOnPath(kAppleScriptRunner, runner, sizeof runner)) return EmptyText(start);
    return RunScriptWith(runner, source, start);
}

void CancelScriptRuns() {
    RunRegistry* registry = Registry();
    if (registry == nullptr) return;
    std::unique_lock<std::mutex> guard(registry->lock);
    registry->cancelled = true;
    if (!registry->wakeSent && registry->wakeWrite >= 0) {
        const char wake = 1;
        ssize_t sent;
        do {
            sent = write(registry->wakeWrite, &wake, 1);
        } while (sent < 0 && errno == EINTR);
        registry->wakeSent = sent == 1;
    }
    registry->allEnded.wait_for(guard, kCancelWait, [registry] { return registry->active == 0; });
}

void AllowScriptRuns() {
    RunRegistry* registry = Registry();
    if (registry == nullptr) return;
    std::lock_guard<std::mutex> guard(registry->lock);
    if (registry->wakeRead >= 0) {
        char drained[16];
        ssize_t got;
        do {
            got = read(registry->wakeRead, drained, sizeof drained);
        } while (got > 0 || (got < 0 && errno == EINTR));
    }
    registry->wakeSent = false;
    registry->cancelled = false;
}
