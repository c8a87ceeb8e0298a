// Threads: starting detached worker threads and learning when they have ended.
//
// Ownership: StartThread creates a record for the new thread and the thread entry frees it
// after the procedure has returned and the thread's release scope (below) has
// released what the procedure left on the thread. The records are the library's own; callers
// hold only the thread's number. Threads are detached: nobody joins them. A caller that must
// know a thread has finished (the tracker, before it starts another worker or quits) asks
// ThreadIsRunning or waits with WaitThreadEnd.
//
// Threads started here pause on SIGUSR1 while their pause count is above 0; no operation here
// raises it, so the signal is harmless to the process once a thread has been started.
#pragma once

#include <cstdint>

// A thread's number: the value of its POSIX thread handle; 0 means no thread. The system may
// give a new thread the handle of one that has ended, so a number names a thread only while
// that thread runs.
using ThreadNumber = int64_t;

// The code a thread runs; its result is ignored.
using ThreadProcedure = int64_t (*)(int64_t argument);

// Opens the library for starting threads. Called once at start-up.
void ThreadLibraryInit();
// Closes the library at shutdown: StartThread refuses from now on. Running threads are neither
// stopped nor waited for.
void ThreadLibraryEnd();

// Starts procedure(argument) on a new detached thread with a 1 MiB stack. Returns its number,
// or 0 when the thread could not be started (the procedure then never runs).
ThreadNumber StartThread(ThreadProcedure procedure, int64_t argument);

// True while the thread with that number has been started here and its procedure has not yet
// returned (or its release scope not yet ended).
bool ThreadIsRunning(ThreadNumber number);

// Waits until ThreadIsRunning(number) is false, for at most timeoutMs milliseconds (a negative
// value waits without limit). True when the thread has ended. A thread asking about itself gets
// false at once instead of waiting for ever.
bool WaitThreadEnd(ThreadNumber number, int32_t timeoutMs);

// The release scope around a thread procedure: what the procedure leaves behind on its thread
// is released when it returns, before the thread reports its end.
//
// The runtime's own part is the thread's temporary string buffer. A platform binding whose calls
// leave objects to a per-thread scope (an autorelease pool on macOS) may add that scope by
// installing a pair of hooks once at start-up; the Qt binding leaves nothing and installs none.

// Opens the platform's scope on the calling thread; what it returns is handed to the end hook.
using ThreadScopeBegin = void* (*)();
// Closes the scope that the begin hook opened, on the same thread.
using ThreadScopeEnd = void (*)(void* token);

// Installs the platform's scope for threads started from now on; nulls remove it. A scope that
// has already begun keeps the hooks it began with.
void SetThreadScopeHooks(ThreadScopeBegin begin, ThreadScopeEnd end);

// Begins the platform's scope on construction. On destruction releases the calling thread's
// temporary string buffer (the thread's next text use starts a fresh one), then ends the
// platform's scope: the scopes nest, the platform's outermost.
class ThreadReleaseScope {
  public:
    ThreadReleaseScope();
    ~ThreadReleaseScope();
    ThreadReleaseScope(const ThreadReleaseScope&) = delete;
    ThreadReleaseScope& operator=(const ThreadReleaseScope&) = delete;

  private:
    ThreadScopeEnd end_ = nullptr;
    void* token_ = nullptr;
};

// Millisecond delays for the calling thread.

// Sleeps for about that many milliseconds with one nanosleep. A negative count returns at once;
// a signal that interrupts the sleep ends it early (the rest is not slept).
void DelayMilliseconds(int32_t milliseconds);
