// Pausing threads on SIGUSR1 (internal to the thread library).
//
// A thread started by StartThread binds its record's pause count. When SIGUSR1 reaches such a
// thread while its count is above 0, the handler sleeps a second at a time until the count
// drops to 0. Threads without a bound count (the main thread) return from the handler at once.
// Nothing in this program raises a count, so in practice the signal is simply harmless.
#pragma once

#include <atomic>
#include <cstdint>

// Installs the handler for the whole process; only the first call does anything.
void InstallPauseHandler();

// Binds count (or, with null, nothing) to the calling thread. Unbind before the count's
// storage is freed.
void BindThreadPauseCount(std::atomic<int32_t>* count);
