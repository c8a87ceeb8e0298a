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

int64_t WithFlag(const std::atomic<bool>& flag) {
    return reinterpret_cast<int64_t>(&flag);
}

TEST(ThreadsTest, AQuickProcedureRunsAndLeavesNoRecord) {
    ThreadLibraryInit();
    const ThreadNumber number = StartThread(RecordArgument, 4711);
    ASSERT_NE(number, 0);
    ASSERT_TRUE(WaitThreadEnd(number, 5000));
    EXPECT_FALSE(ThreadIsRunning(number));
    EXPECT_EQ(lastArgument, 4711);

    // A later start works as well and gives a number of its own.
    const ThreadNumber again = StartThread(RecordArgument, 815);
    EXPECT_NE(again, 0);
    EXPECT_TRUE(WaitThreadEnd(again, 5000));
    EXPECT_EQ(lastArgument, 815);
}

TEST(ThreadsTest, ThreadsThatRunTogetherHaveDistinctNumbers) {
    std::atomic<bool> release{false};
    const ThreadNumber first = StartThread(WaitForRelease, WithFlag(release));
    const ThreadNumber second = StartThread(WaitForRelease, WithFlag(release));
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    EXPECT_NE(first, second);
    EXPECT_TRUE(ThreadIsRunning(first));
    EXPECT_TRUE(ThreadIsRunning(second));
    EXPECT_FALSE(WaitThreadEnd(first, 30)) << "the thread cannot have ended yet";

    release = true;
    EXPECT_TRUE(WaitThreadEnd(first, 5000));
    EXPECT_TRUE(WaitThreadEnd(second, -1));
    EXPECT_FALSE(ThreadIsRunning(second));
}

TEST(ThreadsTest, NothingAndNobodyAreNotRunning) {
    EXPECT_EQ(StartThread(nullptr, 0), 0);
    EXPECT_FALSE(ThreadIsRunning(0));
    EXPECT_TRUE(WaitThreadEnd(0, 0));
    EXPECT_FALSE(ThreadIsRunning(CurrentThreadNumber())) << "the main thread has no record";
}

std::atomic<int> selfWait{-1};

int64_t WaitForItself(int64_t) {
    selfWait = WaitThreadEnd(CurrentThreadNumber(), -1) ? 1 : 0;
    return 0;
}

TEST(ThreadsTest, AThreadWaitingForItselfIsRefusedAtOnce) {
    const ThreadNumber number = StartThread(WaitForItself, 0);
    ASSERT_NE(number, 0);
    ASSERT_TRUE(WaitThreadEnd(number, 5000));
    EXPECT_EQ(selfWait, 0);
}

int64_t Throw(int64_t) {
    throw std::runtime_error("procedure failed");
}

TEST(ThreadsTest, AProcedureThatThrowsEndsItsThreadCleanly) {
    const ThreadNumber number = StartThread(Throw, 0);
    ASSERT_NE(number, 0);
    EXPECT_TRUE(WaitThreadEnd(number, 5000));
}

TEST(ThreadsTest, NoThreadStartsAfterTheLibraryHasEnded) {
    ThreadLibraryEnd();
    EXPECT_EQ(StartThread(RecordArgument, 1), 0);
    ThreadLibraryInit();
    const ThreadNumber number = StartThread(RecordArgument, 2);
    EXPECT_NE(number, 0);
    EXPECT_TRUE(WaitThreadEnd(number, 5000));
}

TEST(ThreadsTest, SigUsr1DoesNotEndTheProcessOnceAThreadHasStarted) {
    std::atomic<bool> release{false};
    const ThreadNumber number = StartThread(WaitForRelease, WithFlag(release));
    ASSERT_NE(number, 0);

    // To the main thread, which has no record...
    ASSERT_EQ(raise(SIGUSR1), 0);
    // ...and to the worker: with the main thread blocking the signal, the process-directed
    // signal can only be taken by a thread that does not.
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigset_t previous;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &usr1, &previous), 0);
    ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
    DelayMilliseconds(50);
    release = true;
    EXPECT_TRUE(WaitThreadEnd(number, 5000));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    EXPECT_FALSE(ThreadIsRunning(number));
}

std::atomic<int64_t> interruptedDelayMs{-1};

int64_t SleepFiveSeconds(int64_t) {
    const Clock::time_point start = Clock::now();
    DelayMilliseconds(5000);
    interruptedDelayMs = MillisecondsSince(start);
    return 0;
}

TEST(ThreadsTest, ASignalEndsADelayEarly) {
    const ThreadNumber number = StartThread(SleepFiveSeconds, 0);
    ASSERT_NE(number, 0);
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigset_t previous;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &usr1, &previous), 0);
    DelayMilliseconds(200);  // let the worker enter its sleep
    ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
    EXPECT_TRUE(WaitThreadEnd(number, 10000));
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    EXPECT_GE(interruptedDelayMs, 0);
    EXPECT_LT(interruptedDelayMs, 4000) << "the interrupted delay was not given up";
}

// What the release scope around a procedure did, seen from the hooks and the procedure.
struct ScopeTrace {
    std::atomic<int> order{0};
    std::atomic<int> beganAt{0}, ranAt{0}, endedAt{0};
    std::atomic<ThreadNumber> beginThread{0}, procedureThread{0}, endThread{0};
    std::atomic<int64_t> capacityInProcedure{0}, capacityAtEnd{0};
    std::atomic<void*> endToken{nullptr};

    void Reset() {
        order = beganAt = ranAt = endedAt = 0;
        beginThread = procedureThread = endThread = 0;
        capacityInProcedure = capacityAtEnd = 0;
        endToken = nullptr;
    }
};
ScopeTrace trace;
int tokenTarget = 0;

void* BeginTracedScope() {
    trace.beganAt = ++trace.order;
    trace.beginThread = CurrentThreadNumber();
    return &tokenTarget;
}

void EndTracedScope(void* token) {
    trace.endedAt = ++trace.order;
    trace.endThread = CurrentThreadNumber();
    trace.endToken = token;
    trace.capacityAtEnd = TempCapacity();  // after the release: a fresh, minimal buffer
}

int64_t BuildLargeText(int64_t) {
    trace.ranAt = ++trace.order;
    trace.procedureThread = CurrentThreadNumber();
    TempScope scope;
    if (char* text = TempReserve(1 << 20, scope.start())) std::memset(text, 'x', 1 << 20);
    trace.capacityInProcedure = TempCapacity();
    return 0;
}

TEST(ThreadsTest, TheReleaseScopeWrapsTheProcedureOnItsThread) {
    trace.Reset();
    SetThreadScopeHooks(BeginTracedScope, EndTracedScope);
    const ThreadNumber number = StartThread(BuildLargeText, 0);
    ASSERT_NE(number, 0);
    ASSERT_TRUE(WaitThreadEnd(number, 5000));
    SetThreadScopeHooks(nullptr, nullptr);

    EXPECT_EQ(trace.beganAt, 1);
    EXPECT_EQ(trace.ranAt, 2);
    EXPECT_EQ(trace.endedAt, 3) << "the thread reported its end before its scope ended";
    EXPECT_EQ(trace.beginThread, number);
    EXPECT_EQ(trace.procedureThread, number);
    EXPECT_EQ(trace.endThread, number);
    EXPECT_EQ(trace.endToken, &tokenTarget);
    EXPECT_GT(trace.capacityInProcedure, 1 << 20);
    EXPECT_LT(trace.capacityAtEnd, 1024) << "the thread's temporary buffer was not released";
}

TEST(ThreadsTest, TheReleaseScopeFreesTheTemporaryBufferOfAnyThread) {
    int64_t during = 0;
    int64_t after = 0;
    std::thread thread([&] {
        {
            ThreadReleaseScope scope;
            TempReserve(100000, 0);
            TempSetPosition(0);
            during = TempCapacity();
        }
        after = TempCapacity();
    });
    thread.join();
    EXPECT_GT(during, 100000);
    EXPECT_LT(after, 1024);
}

TEST(DelayTest, IntervalSplitsIntoSecondsAndNanoseconds) {
    struct Case {
        int32_t milliseconds;
        long seconds;
        long nanoseconds;
    } const cases[] = {
        {0, 0, 0},
        {10, 0, 10000000},
        {999, 0, 999000000},
        {1000, 1, 0},
        {1500, 1, 500000000},
        {-1500, -1, -500000000},  // truncated toward zero; the system refuses it
        {2147483647, 2147483, 647000000},
    };
    for (const Case& c : cases) {
        const timespec interval = DelayInterval(c.milliseconds);
        EXPECT_EQ(interval.tv_sec, c.seconds) << c.milliseconds;
        EXPECT_EQ(interval.tv_nsec, c.nanoseconds) << c.milliseconds;
    }
}

TEST(DelayTest, SleepsAboutTheCountAndReturnsAtOnceForNothing) {
    Clock::time_point start = Clock::now();
    DelayMilliseconds(10);
    const int64_t slept = MillisecondsSince(start);
    EXPECT_GE(slept, 9);
    EXPECT_LT(slept, 2000);

    for (int32_t nothing : {0, -1, -1500, -2147483647 - 1}) {
        start = Clock::now();
        DelayMilliseconds(nothing);
        EXPECT_LT(MillisecondsSince(start), 500) << nothing;
    }
}

}  // namespace
