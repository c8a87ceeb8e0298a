// The release scope around a thread procedure: what the procedure leaves behind on its thread
// is released when it returns, before the thread reports its end.
//
// The runtime's own part is the thread's temporary string buffer. The platform layer may add its
// own per-thread scope (on macOS an autorelease pool, so that the objects the script runner
// autoreleases on the worker are freed) by installing a pair of hooks once at start-up.
#pragma once

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
