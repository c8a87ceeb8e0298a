// Gadget calls from a worker thread: texts handed to the GUI thread, getters answered from the
// snapshot without waiting for the GUI thread.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/ui_gadget_fixture.h"

namespace {

// Runs work on a thread of its own and waits for it; the GUI thread handles nothing meanwhile.
template <typename Work>
void OnWorker(Work work) {
    std::thread(work).join();
}

class GadgetThreadTest : public GadgetTest {
  protected:
    void SetUp() override {
        GadgetTest::SetUp();
        CreateTextGadget(1, 0, 0, 100, 20, "", 0);
        CreateTextGadget(2, 0, 20, 100, 20, "", 0);
        CreateIPAddressGadget(4, 0, 40, 120, 20);
        CreateStringGadget(5, 0, 60, 80, 20, "10000", kStringNumeric);
        CreateTrackBarGadget(0, 200, 0, 20, 150, 500, 35000);
        SetGadgetText(4, "127.0.0.1");
        SetGadgetState(0, 9000);
        for (int64_t gadget : {0, 1, 2, 4, 5})
            BindGadgetCallback(gadget, RecordEvent);
        TakeAll();
        Drain();  // the wake-ups of the events posted so far
    }

    // Handles every pending platform event; returns how many there were.
    int64_t Drain() {
        const int64_t before = platform.handledEvents;
        for (int i = 0; i < 100000 && platform.handleOneEvent(0); ++i) {
        }
        return platform.handledEvents - before;
    }
};

TEST_F(GadgetThreadTest, WorkerReadsTheSnapshotWithoutTheGuiThread) {
    std::string server, port, nothing;
    int64_t zoom = 0, address = 0;
    OnWorker([&] {
        server = Text(4);
        address = GetGadgetState(4);
    });
    EXPECT_EQ(server, "127.0.0.1");
    EXPECT_EQ(address, 16777343);

    // The user's edits and slider moves reach the snapshot with their events.
    platform.type(View(5), "1");
    platform.moveSlider(View(0), 12000);
    OnWorker([&] {
        port = Text(5);
        zoom = GetGadgetState(0);
        nothing = Text(42);
    });
    EXPECT_EQ(port, "100001");
    EXPECT_EQ(zoom, 12000);
    EXPECT_EQ(nothing, "");
}

TEST_F(GadgetThreadTest, WorkerSetsAreHandedOverAndCoalesced) {
    std::string seenByWorker;
    OnWorker([&] {
        SetGadgetText(1, "48.1");
        SetGadgetText(1, "48.1173");
        SetGadgetText(2, "-11.5");
        seenByWorker = Text(1);
    });
    // The worker sees its own text at once; the widget has not been touched yet.
    EXPECT_EQ(seenByWorker, "48.1173");
    EXPECT_EQ(View(1)->text, "");
    // One apply task per label, however many sets came before the GUI thread ran.
    EXPECT_EQ(Drain(), 2);
    EXPECT_EQ(View(1)->text, "48.1173");
    EXPECT_EQ(View(2)->text, "-11.5");

    // The program's own later text wins over a worker's pending one.
    OnWorker([] { SetGadgetText(1, "from the worker"); });
    SetGadgetText(1, "from the program");
    Drain();
    EXPECT_EQ(View(1)->text, "from the program");
}

TEST_F(GadgetThreadTest, LabelEndsWithTheLastOfManyTextsAndNothingIsPosted) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i) {
            SetGadgetText(1, ("lat " + std::to_string(i)).c_str());
            SetGadgetText(2, ("lon " + std::to_string(i)).c_str());
        }
        done = true;
    });
    for (int i = 0; i < 1000000 && !done; ++i)
        platform.handleOneEvent(1);
    worker.join();
    Drain();
    EXPECT_EQ(View(1)->text, "lat 999");
    EXPECT_EQ(View(2)->text, "lon 999");
    // Applying a text is a program change: no event, no procedure.
    EXPECT_EQ(QueuedEventCount(), 0);
    EXPECT_TRUE(seen.empty());
}

TEST_F(GadgetThreadTest, TextsForGoneGadgetsAreDropped) {
    OnWorker([] { SetGadgetText(1, "late"); });
    RemoveGadget(1);
    CreateTextGadget(1, 0, 0, 100, 20, "fresh", 0);
    Drain();
    EXPECT_EQ(View(1)->text, "fresh");

    // A removed gadget has no snapshot left, and a set for it queues nothing.
    RemoveGadget(2);
    OnWorker([] { SetGadgetText(2, "nobody"); });
    EXPECT_EQ(Drain(), 0);
}

TEST_F(GadgetThreadTest, OtherOperationsDoNothingOffTheGuiThread) {
    CreateButtonGadget(3, 0, 90, 80, 25, "Start");
    OnWorker([] {
        SetGadgetState(3, 1);
        DisableGadget(3, 1);
        RemoveGadget(3);
        EXPECT_EQ(BindGadgetCallback(3, RecordEvent), 0);
    });
    EXPECT_EQ(GetGadgetState(3), 0);
    EXPECT_TRUE(View(3)->enabled);
    EXPECT_EQ(Drain(), 0);
}

}  // namespace
