#include "runtime/threads.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>

#include "runtime/temp_buffer.h"

// --- pausing threads on SIGUSR1 -----------------------------------------------------------
//
// A thread started by StartThread binds its record's pause count. When SIGUSR1 reaches such a
// thread while its count is above 0, the handler sleeps a second at a time until the count
// drops to 0. Threads without a bound count (the main thread) return from the handler at once.
// Nothing in this program raises a count, so in practice the signal is simply harmless.

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

// Installs the handler for the whole process; only the first call does anything.
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

// Binds count (or, with null, nothing) to the calling thread. Unbind before the count's
// storage is freed.
void BindThreadPauseCount(std::atomic<int32_t>* count) {
    boundPauseCount.store(count);
}

}  // namespace

// --- the release scope around a thread procedure -------------------------------------------

namespace {

struct ScopeHooks {
    std::mutex lock;
    ThreadScopeBegin begin = nullptr;
    ThreadScopeEnd end = nullptr;
};

// Never destroyed: a detached thread may still end its scope while the process exits.
ScopeHooks& Hooks() {
    static ScopeHooks* hooks = new ScopeHooks;
    return *hooks;
}

}  // namespace

void SetThreadScopeHooks(ThreadScopeBegin begin, ThreadScopeEnd end) {
    ScopeHooks& hooks = Hooks();
    std::lock_guard<std::mutex> guard(hooks.lock);
    hooks.begin = begin;
    hooks.end = end;
}

ThreadReleaseScope::ThreadReleaseScope() {
    ThreadScopeBegin begin = nullptr;
    {
        ScopeHooks& hooks = Hooks();
        std::lock_guard<std::mutex> guard(hooks.lock);
        begin = hooks.begin;
        end_ = hooks.end;
    }
    if (begin != nullptr) token_ = begin();
}

ThreadReleaseScope::~ThreadReleaseScope() {
    StringSystemEnd();
    if (end_ != nullptr) end_(token_);
}

// --- threads ---------------------------------------------------------------------------------

namespace {

constexpr size_t kThreadStackSize = 1048576;

// One per started thread whose procedure has not finished; a doubly linked list, newest first.
struct ThreadRecord {
    ThreadRecord* next = nullptr;
    ThreadRecord* previous = nullptr;
    ThreadNumber number = 0;  // 0 until the creator has stored it
    ThreadProcedure procedure = nullptr;
    int64_t argument = 0;
    std::atomic<int32_t> pauseCount{0};
};

struct ThreadLibrary {
    // Guards the list. Recursive, so that a call back into the library from a thread that
    // already holds it cannot deadlock.
    std::recursive_mutex lock;
    // Signalled whenever a record leaves the list.
    std::condition_variable_any threadEnded;
    ThreadRecord* head = nullptr;
    bool accepting = true;
};

// Never destroyed: detached threads may still end while the process exits.
ThreadLibrary& Library() {
    static ThreadLibrary* library = new ThreadLibrary;
    return *library;
}

ThreadNumber NumberOf(pthread_t handle) {
    static_assert(sizeof(pthread_t) <= sizeof(uint64_t));
    uint64_t value = 0;
    std::memcpy(&value, &handle, sizeof(handle));
    return static_cast<ThreadNumber>(value);
}

// The list functions expect the library's lock to be held.
void Link(ThreadLibrary& library, ThreadRecord* record) {
    record->next = library.head;
    if (library.head != nullptr) library.head->previous = record;
    library.head = record;
}

void Unlink(ThreadLibrary& library, ThreadRecord* record) {
    if (record->previous != nullptr) {
        record->previous->next = record->next;
    } else {
        library.head = record->next;
    }
    if (record->next != nullptr) record->next->previous = record->previous;
    record->next = nullptr;
    record->previous = nullptr;
}

bool Listed(const ThreadLibrary& library, ThreadNumber number) {
    for (const ThreadRecord* record = library.head; record != nullptr; record = record->next) {
        if (record->number == number) return true;
    }
    return false;
}

void* ThreadEntry(void* argument) {
    auto* record = static_cast<ThreadRecord*>(argument);
    ThreadLibrary& library = Library();
    ThreadProcedure procedure = nullptr;
    int64_t procedureArgument = 0;
    {
        // Waits until the creator, which holds the lock across the creation, has completed the
        // record.
        std::lock_guard<std::recursive_mutex> guard(library.lock);
        procedure = record->procedure;
        procedureArgument = record->argument;
    }
    BindThreadPauseCount(&record->pauseCount);
    {
        ThreadReleaseScope scope;
        try {
            procedure(procedureArgument);
        } catch (const std::exception&) {
            // A failing procedure ends its thread like a returning one.
        }
    }
    BindThreadPauseCount(nullptr);
    {
        std::lock_guard<std::recursive_mutex> guard(library.lock);
        Unlink(library, record);
        delete record;
        library.threadEnded.notify_all();
    }
    return nullptr;
}

}  // namespace

void ThreadLibraryInit() {
    ThreadLibrary& library = Library();
    std::lock_guard<std::recursive_mutex> guard(library.lock);
    library.accepting = true;
}

void ThreadLibraryEnd() {
    ThreadLibrary& library = Library();
    std::lock_guard<std::recursive_mutex> guard(library.lock);
    library.accepting = false;
}

ThreadNumber StartThread(ThreadProcedure procedure, int64_t argument) {
    if (procedure == nullptr) return 0;
    // Installed before the thread exists, so a SIGUSR1 right after the start is harmless.
    InstallPauseHandler();
    ThreadLibrary& library = Library();
    std::lock_guard<std::recursive_mutex> guard(library.lock);
    if (!library.accepting) return 0;

    auto* record = new (std::nothrow) ThreadRecord;
    if (record == nullptr) return 0;
    record->procedure = procedure;
    record->argument = argument;
    Link(library, record);

    pthread_attr_t attributes;
    bool created = false;
    pthread_t handle{};
    if (pthread_attr_init(&attributes) == 0) {
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        pthread_attr_setstacksize(&attributes, kThreadStackSize);
        created = pthread_create(&handle, &attributes, ThreadEntry, record) == 0;
        pthread_attr_destroy(&attributes);
    }
    if (!created) {
        Unlink(library, record);
        delete record;
        return 0;
    }
    record->number = NumberOf(handle);
    return record->number;
}

bool ThreadIsRunning(ThreadNumber number) {
    if (number == 0) return false;
    ThreadLibrary& library = Library();
    std::lock_guard<std::recursive_mutex> guard(library.lock);
    return Listed(library, number);
}

bool WaitThreadEnd(ThreadNumber number, int32_t timeoutMs) {
    if (number == 0) return true;
    ThreadLibrary& library = Library();
    std::unique_lock<std::recursive_mutex> lock(library.lock);
    const auto ended = [&library, number] { return !Listed(library, number); };
    if (ended()) return true;
    if (number == NumberOf(pthread_self())) return false;
    if (timeoutMs < 0) {
        library.threadEnded.wait(lock, ended);
        return true;
    }
    return library.threadEnded.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended);
}

// --- delays ----------------------------------------------------------------------------------

namespace {

// milliseconds / 1000 seconds and the remainder in nanoseconds, both truncated toward zero
// (1500 gives 1 s and 500000000 ns).
timespec DelayInterval(int32_t milliseconds) {
    timespec interval{};
    interval.tv_sec = milliseconds / 1000;
    interval.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    return interval;
}

}  // namespace

void DelayMilliseconds(int32_t milliseconds) {
    // The system refuses a negative interval anyway; saying so keeps the call obviously cheap.
    if (milliseconds < 0) return;
    timespec interval = DelayInterval(milliseconds);
    nanosleep(&interval, &interval);
}
