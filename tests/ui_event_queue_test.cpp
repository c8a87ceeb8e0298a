#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ui_fixture.h"

namespace {

// What the bound procedures saw, in the order they ran.
std::vector<std::string> ran;

int64_t RecordExact() {
    return ran.push_back("exact"), 0;
}
int64_t RecordAnyType() {
    return ran.push_back("any type"), 0;
}
int64_t RecordAnyObject() {
    return ran.push_back("any object"), 0;
}
int64_t RecordKindOnly() {
    return ran.push_back("kind only"), 0;
}
int64_t RecordAnyWindow() {
    return ran.push_back("any window"), 0;
}
int64_t RecordOtherType() {
    return ran.push_back("other type"), 0;
}
int64_t RecordNewer() {
    return ran.push_back("newer"), 0;
}
int64_t RecordCurrent() {
    ran.push_back(std::to_string(EventGadget()) + "/" + std::to_string(EventType()));
    return 0;
}
int64_t PostNested() {
    PostEvent(GadgetEvent, 99, 0, Action);
    return 0;
}

int released = 0;
void CountRelease(int64_t) {
    ++released;
}

class EventQueueTest : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        ran.clear();
        released = 0;
    }
};

TEST_F(EventQueueTest, RepeatsOfTheNewestEventCoalesceButStillRunProcedures) {
    BindEventCallback(GadgetEvent, RecordExact, 0, 5, TextChanged);
    PostEvent(GadgetEvent, 5, 0, TextChanged);
    PostEvent(GadgetEvent, 5, 0, TextChanged);
    EXPECT_EQ(QueuedEventCount(), 1);
    EXPECT_EQ(ran.size(), 2u);

    // Identical to an older, not the newest, event: queued again.
    PostEvent(GadgetEvent, 4, 0, TextChanged);
    PostEvent(GadgetEvent, 5, 0, TextChanged);
    EXPECT_EQ(QueuedEventCount(), 3);

    // Kinds above 65535 are never coalesced.
    PostEvent(70000, 1, 0, 0);
    PostEvent(70000, 1, 0, 0);
    EXPECT_EQ(QueuedEventCount(), 5);
}

TEST_F(EventQueueTest, ProceduresRunForFiveKeysInOrderNewestFirst) {
    BindEventCallback(GadgetEvent, RecordAnyWindow, -1, 5, TextChanged);
    BindEventCallback(GadgetEvent, RecordKindOnly);
    BindEventCallback(GadgetEvent, RecordAnyObject, 0);
    BindEventCallback(GadgetEvent, RecordAnyType, 0, 5);
    BindEventCallback(GadgetEvent, RecordExact, 0, 5, TextChanged);
    BindEventCallback(GadgetEvent, RecordNewer, 0, 5, TextChanged);
    BindEventCallback(GadgetEvent, RecordOtherType, 0, 5, FocusGained);
    BindEventCallback(MenuItemChosen, RecordOtherType);

    PostEvent(GadgetEvent, 5, 0, TextChanged);
    const std::vector<std::string> expected = {"newer",      "exact",     "any type",
                                               "any object", "kind only", "any window"};
    EXPECT_EQ(ran, expected);
}

TEST_F(EventQueueTest, ProceduresSeeThePostedEventWhichIsRestoredAfterwards) {
    PostEvent(GadgetEvent, 7, 0, FocusLost);
    ASSERT_EQ(NextEvent(), GadgetEvent);
    BindEventCallback(GadgetEvent, RecordCurrent, 0, 5);
    PostEvent(GadgetEvent, 5, 0, TextChanged);
    EXPECT_EQ(ran, std::vector<std::string>{"5/768"});
    EXPECT_EQ(EventGadget(), 7);
    EXPECT_EQ(EventType(), FocusLost);
}

TEST_F(EventQueueTest, AProcedureMayPostFurtherEvents) {
    BindEventCallback(GadgetEvent, PostNested, 0, 1);
    PostEvent(GadgetEvent, 1, 0, Action);
    EXPECT_EQ(TakeAll(), (std::vector<Taken>{{GadgetEvent, 1, Action}, {GadgetEvent, 99, Action}}));
}

TEST_F(EventQueueTest, AnEmptyQueueKeepsTheObjectAndResetsTheType) {
    PostEvent(GadgetEvent, 3, 0, Action);
    ASSERT_EQ(NextEvent(), GadgetEvent);
    EXPECT_EQ(NextEvent(), 0);
    EXPECT_EQ(EventGadget(), 3);
    EXPECT_EQ(EventType(), -1);
    // Posting woke the platform; once that is handled, a wait times out with nothing to do.
    while (WaitEventTimeout(0) != 0) {
    }
    EXPECT_EQ(EventType(), -1);
    EXPECT_EQ(EventGadget(), 3);
}

TEST_F(EventQueueTest, WaitReturnsQueuedEventsThenPlatformResults) {
    // One platform event that produces two layer events: two waits, the second from the queue.
    platform.queueUserAction([] {
        PostEvent(GadgetEvent, 1, 0, Action);
        PostEvent(GadgetEvent, 2, 0, Action);
    });
    EXPECT_EQ(WaitEvent(), GadgetEvent);
    EXPECT_EQ(EventGadget(), 1);
    const int64_t handled = platform.handledEvents;
    EXPECT_EQ(WaitEventTimeout(0), GadgetEvent);
    EXPECT_EQ(EventGadget(), 2);
    EXPECT_EQ(platform.handledEvents, handled);  // taken from the queue, not the platform

    // Drain the wake-ups the postings caused; then a platform event that posts nothing.
    while (WaitEventTimeout(0) != 0) {
    }
    platform.queueUserAction([] {});
    EXPECT_EQ(WaitEventTimeout(0), -1);
}

TEST_F(EventQueueTest, WakeFromAnotherThreadEndsABlockedWait) {
    while (WaitEventTimeout(0) != 0) {
    }
    std::thread waker([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        WakeEventLoop();
    });
    EXPECT_EQ(WaitEvent(), -1);
    waker.join();
}

TEST_F(EventQueueTest, PurgeDropsOneWindowsEventsAndKeepsTheTail) {
    PostEvent(GadgetEvent, 1, 1, Action);
    PostEvent(GadgetEvent, 2, 2, Action, 42, CountRelease);
    PostEvent(GadgetEvent, 3, 1, Action);
    PostEvent(GadgetEvent, 4, 2, Action);
    PurgeWindowEvents(2);
    EXPECT_EQ(released, 1);  // a purged event's data is released too
    PostEvent(GadgetEvent, 5, 1, Action);
    EXPECT_EQ(TakeAll(),
              (std::vector<Taken>{
                  {GadgetEvent, 1, Action}, {GadgetEvent, 3, Action}, {GadgetEvent, 5, Action}}));
    // Purging everything leaves an empty queue that still appends correctly.
    PostEvent(GadgetEvent, 6, 1, Action);
    PurgeWindowEvents(1);
    EXPECT_EQ(QueuedEventCount(), 0);
    PostEvent(GadgetEvent, 7, 1, Action);
    EXPECT_EQ(TakeAll(), (std::vector<Taken>{{GadgetEvent, 7, Action}}));
}

TEST_F(EventQueueTest, EventDataIsReleasedWhenTheNextEventIsTaken) {
    PostEvent(GadgetEvent, 1, 0, Action, 42, CountRelease);
    PostEvent(GadgetEvent, 2, 0, Action);
    ASSERT_EQ(NextEvent(), GadgetEvent);
    EXPECT_EQ(released, 0);
    ASSERT_EQ(NextEvent(), GadgetEvent);
    EXPECT_EQ(released, 1);
}

}  // namespace
