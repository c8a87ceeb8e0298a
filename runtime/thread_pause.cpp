#include "runtime/thread_pause.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace {

// Read by the handler on the thread it interrupts, so no lock is needed (and none would be
// safe inside a signal handler); lock-free atomics are.
constinit thread_local std::atomic<std::atomic<int32_t>*> boundPauseCount{nullptr};

static_assert(std::atomic<int32_t>::is_always_lock_free);
static_assert(std::atomic<std::atomic<int32_t>*>::is_always_lock_free);

// Uses only async-signal-safe operations: lock-free loads and sleep().
void OnPauseSignal(int) {
    const int savedErrno = errno;
    const std::atomic<int32_t>* count = boundPauseCount.load();
    while (count != nullptr && count->load() > 0)
        sleep(1);
    errno = savedErrno;
}

}  // namespace

void InstallPauseHandler() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_handler = OnPauseSignal;
        sigemptyset(&action.sa_mask);
        // Blocking calls that the signal interrupts carry on instead of failing with EINTR.
        action.sa_flags = SA_RESTART;
        sigaction(SIGUSR1, &action, nullptr);
    });
}

void BindThreadPauseCount(std::atomic<int32_t>* count) {
    boundPauseCount.store(count);
}
