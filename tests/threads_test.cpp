// Starting threads, learning of their end, the SIGUSR1 pause handler, the per-thread release
// scope and millisecond delays.
#include "runtime/threads.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "runtime/delay.h"
#include "runtime/temp_buffer.h"
#include "runtime/thread_scope.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

ThreadNumber CurrentThreadNumber() {
    const pthread_t self = pthread_self();
    uint64_t value = 0;
    std::memcpy(&value, &self, sizeof(self));
    return static_cast<ThreadNumber>(value);
}

std::atomic<int64_t> lastArgument{0};

int64_t RecordArgument(int64_t argument) {
    lastArgument = argument;
    return 0;
}

// Runs until the flag its argument points at is set (for at most ten seconds).
int64_t WaitForRelease(int64_t argument) {
    const auto* release = reinterpret_cast<const std::atomic<bool>*>(argument);
    for (int slice = 0; slice < 1000 && !release->load(); ++slice)
        DelayMilliseconds(10);
    return 0;
}

std::atomic<int> selfWait{-1};

int64_t WaitForItself(int64_t) {
    selfWait = WaitThreadEnd(CurrentThreadNumber(), -1) ? 1 : 0;
    return 0;
}

int64_t Throw(int64_t) {
    throw std::runtime_error("procedure failed");
}

// Threads that run together have numbers of their own and are waited for; a procedure that
// throws still ends its thread, and a thread that waits for itself is refused at once.
TEST(ThreadsTest, StartedThreadsRunAndTheirEndIsSeen) {
    ThreadLibraryInit();
    std::atomic<bool> release{false};
    const ThreadNumber first = StartThread(WaitForRelease, reinterpret_cast<int64_t>(&release));
    const ThreadNumber second = StartThread(RecordArgument, 4711);
    ASSERT_TRUE(first != 0 && second != 0);
    EXPECT_NE(first, second);
    EXPECT_TRUE(WaitThreadEnd(second, 5000));
    EXPECT_EQ(lastArgument, 4711);
    EXPECT_TRUE(ThreadIsRunning(first));
    EXPECT_FALSE(WaitThreadEnd(first, 30)) << "the thread cannot have ended yet";
    release = true;
    EXPECT_TRUE(WaitThreadEnd(first, -1));
    EXPECT_FALSE(ThreadIsRunning(first));
    for (const ThreadProcedure procedure : {WaitForItself, Throw})
        EXPECT_TRUE(WaitThreadEnd(StartThread(procedure, 0), 5000));
    EXPECT_EQ(selfWait, 0);
}

TEST(ThreadsTest, SigUsr1DoesNotEndTheProcessOnceAThreadHasStarted) {
    std::atomic<bool> release{false};
    const ThreadNumber number = StartThread(WaitForRelease, reinterpret_cast<int64_t>(&release));
    ASSERT_NE(number, 0);
    ASSERT_EQ(raise(SIGUSR1), 0);  // to the main thread, which has no record
    // And to the worker: with the main thread blocking it, only the worker can take it.
    sigset_t usr1, previous;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &usr1, &previous), 0);
    ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
    DelayMilliseconds(50);
    release = true;
    EXPECT_TRUE(WaitThreadEnd(number, 5000));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// What the release scope around a procedure did, seen from the hooks and the procedure.
std::atomic<int> order{0}, beganAt{0}, ranAt{0}, endedAt{0};
std::atomic<ThreadNumber> endThread{0};
std::atomic<int64_t> capacityInProcedure{0}, capacityAtEnd{0};
int tokenTarget = 0;

void* BeginTracedScope() {
    beganAt = ++order;
    return &tokenTarget;
}

void EndTracedScope(void* token) {
    endedAt = token == &tokenTarget ? ++order : -1;
    endThread = CurrentThreadNumber();
    capacityAtEnd = TempCapacity();  // after the release: a fresh, minimal buffer
}

int64_t BuildLargeText(int64_t) {
    ranAt = ++order;
    TempScope scope;
    if (char* text = TempReserve(1 << 20, scope.start())) std::memset(text, 'x', 1 << 20);
    capacityInProcedure = TempCapacity();
    return 0;
}

TEST(ThreadsTest, TheReleaseScopeWrapsTheProcedureAndFreesItsTemporaryBuffer) {
    SetThreadScopeHooks(BeginTracedScope, EndTracedScope);
    const ThreadNumber number = StartThread(BuildLargeText, 0);
    ASSERT_NE(number, 0);
    ASSERT_TRUE(WaitThreadEnd(number, 5000));
    SetThreadScopeHooks(nullptr, nullptr);
    EXPECT_EQ(beganAt, 1);
    EXPECT_EQ(ranAt, 2);
    EXPECT_EQ(endedAt, 3) << "the thread reported its end before its scope ended";
    EXPECT_EQ(endThread, number);
    EXPECT_GT(capacityInProcedure, 1 << 20);
    EXPECT_LT(capacityAtEnd, 1024) << "the thread's temporary buffer was not released";

    // The scope does the same for a thread started elsewhere.
    int64_t after = -1;
    std::thread thread([&] {
        {
            ThreadReleaseScope scope;
            TempReserve(100000, 0);
            TempSetPosition(0);
        }
        after = TempCapacity();
    });
    thread.join();
    EXPECT_LT(after, 1024);
}

TEST(DelayTest, SleepsAboutTheCountAndReturnsAtOnceForNothing) {
    for (int32_t milliseconds : {10, 0, -1, -2147483647 - 1}) {
        const Clock::time_point start = Clock::now();
        DelayMilliseconds(milliseconds);
        EXPECT_GE(MillisecondsSince(start), milliseconds > 0 ? 9 : 0);
        EXPECT_LT(MillisecondsSince(start), 500) << milliseconds;
    }
}

}  // namespace
