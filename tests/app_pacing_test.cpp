// How often the program acts on a stream: how long the worker leaves a chatty connection alone
// after a position, and how often the viewer rewrites the live position file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "app/globe_kml.h"
#include "app/position_pace.h"
#include "app/viewer_feed.h"
#include "runtime/temp_buffer.h"
#include "runtime/threads.h"
#include "tests/support/scratch_directory.h"

namespace {

using std::chrono::milliseconds;

TEST(PositionPaceTest, TheGapAfterAPositionLastsUntilShortlyBeforeTheNextIsDue) {
    struct Case {
        std::vector<int> spansMs;  // between the receives that brought positions; a negative
                                   // span: that receive brought two
        int32_t gapMs;
        const char* why;
    };
    const Case cases[] = {
        {{}, 80, "no pace before two spans"},
        {{150}, 80, "one span may be a position that came late"},
        {{150, 150}, 120, "150 ms pace, woken 30 ms before"},
        {{150, 300}, 120, "a missed fix does not double the gap"},
        {{300, 150}, 120, "the shorter of the last two spans"},
        {{100, 100}, 80, "never shorter than the shortest gap"},
        {{1000, 1000}, 970, "1 Hz"},
        {{1030, 1030}, 1000, "the longest gap"},
        {{1031, 1031}, 80, "a slower pace is not waited out"},
        {{1000, 1000, 2000}, 970, "one long span after a steady pace"},
        {{1000, 2000, 2000}, 80, "the pace slowed down for good"},
        {{1000, 1000, -970}, 80, "two at once: the pace quickened, and is learnt anew"},
        {{1000, 1000, -970, 200}, 80, "one span of the new pace is not enough"},
        {{1000, 1000, -970, 200, 200}, 170, "two are"},
    };
    for (const Case& c : cases) {
        PositionPace pace(80);
        PositionPace::Clock::time_point at{};
        pace.PositionsAt(at, 1);
        for (const int span : c.spansMs)
            pace.PositionsAt(at += milliseconds(std::abs(span)), span < 0 ? 2 : 1);
        EXPECT_EQ(pace.GapAfterPosition(), c.gapMs) << c.why;
    }
}

constexpr const char* kFirst = "$GPRMC,1,A,4807.038,N,01131.000,E";
constexpr const char* kSecond = "$GPRMC,1,A,4807.038,S,01131.000,W";
constexpr const char* kFirstPoint = "11.516667,48.117300,0";
constexpr const char* kSecondPoint = "-11.516667,-48.117300,0";

std::atomic<size_t> scripts{0};

char* CountScript(const char*, int64_t start) {
    ++scripts;
    return TempEmptyAt(start);
}

bool WaitForScripts(size_t count) {
    return WaitFor([count] { return scripts.load() >= count; });
}

// The viewer thread on its own, its scripts counted, in a scratch folder of its own.
class ViewerFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.Valid());
        std::filesystem::current_path(folder_.Path());
        ThreadLibraryInit();
        SetScriptRunner(CountScript);
    }
    void TearDown() override {
        ViewerClose();
        EXPECT_TRUE(ViewerStop(5000));
        SetScriptRunner(nullptr);
        SetPositionFileEvery(kPositionFileEveryMs);
        std::filesystem::current_path(previous_);
    }

    static void Post(const char* sentence) {
        Position position;
        ASSERT_TRUE(JudgeRmcLine(sentence, std::strlen(sentence), &position));
        ViewerPost(std::span<const Position>(&position, 1));
    }
    // The placemark's point in the position file, then the trail's points after a bar.
    static std::string Points() {
        const std::string kml = ReadBytes(kPositionKmlFile);
        std::string points;
        for (size_t at = kml.find("<coordinates>"); at != std::string::npos;
             at = kml.find("<coordinates>", at + 1)) {
            const size_t from = at + std::strlen("<coordinates>");
            std::istringstream tuples(kml.substr(from, kml.find("</coordinates>", from) - from));
            points += points.empty() ? "" : " |";
            for (std::string tuple; tuples >> tuple;)
                points += (points.empty() ? "" : " ") + tuple;
        }
        return points;
    }

  private:
    ScratchDirectory folder_;
    std::filesystem::path previous_ = std::filesystem::current_path();
};

// A position that comes before the file's time is up waits: until the time is up, or, sooner,
// until the viewer thread ends.
TEST_F(ViewerFileTest, ASoonerPositionWaitsForItsTimeOrTheViewerEnd) {
    const std::string first = std::string(kFirstPoint) + " | " + kFirstPoint;
    const std::string both = std::string(kSecondPoint) + " | " + kFirstPoint + " " + kSecondPoint;
    for (const int32_t everyMs : {60000, 30}) {
        SetPositionFileEvery(everyMs);
        scripts = 0;
        ASSERT_TRUE(ViewerStart());
        ViewerOpen();
        Post(kFirst);
        ASSERT_TRUE(WaitForScripts(1));
        EXPECT_EQ(Points(), first);
        Post(kSecond);
        ASSERT_TRUE(WaitForScripts(2));
        // Either written when its time is up, or not yet.
        EXPECT_TRUE(everyMs == 30 ? WaitFor([&] { return Points() == both; }) : Points() == first)
            << Points();
        ViewerClose();
        ASSERT_TRUE(ViewerStop(5000));
        EXPECT_EQ(Points(), both);
    }
}

}  // namespace
