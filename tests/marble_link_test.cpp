// The slot through which Marble is moved: the zoom for the track bar's distances, and a mover
// that is replaced only once no call of it is in progress (its owner may go then).
#include "ui/platform/marble_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(MarbleLinkTest, ZoomForTheTrackBarsDistances) {
    const std::pair<int64_t, int32_t> cases[] = {
        {500, 3018}, {900, 2900}, {12000, 2382}, {35000, 2168}, {1, 4261}, {0, 4261}, {-5, 4261}};
    for (const auto& [metres, zoom] : cases)
        EXPECT_EQ(MarbleZoomForDistance(metres), zoom) << metres;
}

std::atomic<bool> moving{false};
std::atomic<bool> moved{false};

void SlowMover(double, double, int32_t) {
    moving = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    moved = true;
}

TEST(MarbleLinkTest, ReplacingWaitsForAMoveInProgress) {
    SetMarbleMover(SlowMover);
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
