// Threads and their end, and the slot through which Marble is moved.
#include "runtime/threads.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "ui/platform/marble_link.h"

namespace {

std::atomic<int64_t> lastArgument{0};
std::atomic<bool> release{false};
std::atomic<int> selfWait{-1};

struct Procedures {  // for the started threads
    static int64_t RecordArgument(int64_t argument) { return lastArgument = argument, 0; }
    static int64_t WaitForRelease(int64_t) {
        for (int slice = 0; slice < 1000 && !release; ++slice)
            DelayMilliseconds(10);
        return 0;
    }
    static int64_t WaitForItself(int64_t) {
        selfWait = WaitThreadEnd(static_cast<ThreadNumber>(pthread_self()), 5000) ? 1 : 0;
        return 0;
    }
    static int64_t Throw(int64_t) { throw std::runtime_error("procedure failed"); }
};

// Threads that run together have numbers of their own; one whose procedure throws still ends.
TEST(ThreadsTest, StartedThreadsRunAndTheirEndIsSeen) {
    ThreadLibraryInit();
    const ThreadNumber first = StartThread(Procedures::WaitForRelease, 0);
    const ThreadNumber second = StartThread(Procedures::RecordArgument, 4711);
    ASSERT_TRUE(first != 0 && second != 0 && first != second);
    EXPECT_TRUE(WaitThreadEnd(0, 0));  // no thread: nothing to wait for
    EXPECT_TRUE(WaitThreadEnd(second, 5000));
    EXPECT_EQ(lastArgument, 4711);
    EXPECT_TRUE(ThreadIsRunning(first));
    EXPECT_FALSE(WaitThreadEnd(first, 30)) << "the thread cannot have ended yet";
    release = true;
    EXPECT_TRUE(WaitThreadEnd(first, -1));
    EXPECT_FALSE(ThreadIsRunning(first));
    EXPECT_TRUE(WaitThreadEnd(StartThread(Procedures::Throw, 0), 5000));
    EXPECT_TRUE(WaitThreadEnd(StartThread(Procedures::WaitForItself, 0), 2000));
    EXPECT_EQ(selfWait, 0) << "a thread waiting for itself is told no at once";
}

// SIGUSR1 pauses only a thread whose pause count is above 0: ours with none, and others, go on.
TEST(ThreadsTest, ThePauseSignalLeavesUnpausedThreadsRunning) {
    ThreadLibraryInit();
    release = false;
    const ThreadNumber waiting = StartThread(Procedures::WaitForRelease, 0);
    ASSERT_NE(waiting, 0);
    pthread_kill(static_cast<pthread_t>(waiting), SIGUSR1);
    pthread_kill(pthread_self(), SIGUSR1);
    release = true;
    EXPECT_TRUE(WaitThreadEnd(waiting, 5000));
}

TEST(MarbleLinkTest, ZoomForTheTrackBarsDistances) {
    const std::pair<int64_t, int32_t> cases[] = {
        {500, 3018}, {900, 2900}, {12000, 2382}, {35000, 2168}, {1, 4261}, {0, 4261}, {-5, 4261}};
    for (const auto& [metres, zoom] : cases)
        EXPECT_EQ(MarbleZoomForDistance(metres), zoom) << metres;
}

std::atomic<bool> moving{false}, moved{false};

TEST(MarbleLinkTest, ReplacingWaitsForAMoveInProgress) {
    SetMarbleMover([](double, double, int32_t) {
        moving = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        moved = true;
    });
    std::thread viewer([] { MoveMarble(11.5, 48.1, 3018); });
    while (!moving)
        std::this_thread::yield();
    SetMarbleMover(nullptr);
    EXPECT_TRUE(moved);
    viewer.join();
    moved = false;
    MoveMarble(11.5, 48.1, 3018);  // the one that does nothing
    EXPECT_FALSE(moved);
}

}  // namespace
