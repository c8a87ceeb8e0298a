#include "runtime/temp_buffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(TempBufferTest, StartsAtSixteenBytesAndGrowsBeyondTheNeed) {
    StringSystemEnd();
    StringSystemInit();
    EXPECT_EQ(TempCapacity(), 16);
    EXPECT_EQ(TempPosition(), 0);

    // 11 bytes plus the zero still fit; 12 reach capacity - 4 and grow to need + 16384.
    ASSERT_NE(TempReserve(11, 0), nullptr);
    EXPECT_EQ(TempCapacity(), 16);
    TempSetPosition(0);  // growth counts from the current position, not from start
    ASSERT_NE(TempReserve(12, 0), nullptr);
    EXPECT_EQ(TempCapacity(), 12 + 16384);
    EXPECT_EQ(TempPosition(), 12);
    TempSetPosition(0);
}

TEST(TempBufferTest, AppendJoinsPiecesAndKeepsPositionOnTheZero) {
    TempScope scope;
    TempAppend("48.");
    TempAppend(nullptr);  // writes only a zero
    TempAppend("1173");
    EXPECT_STREQ(scope.text(), "48.1173");
    EXPECT_EQ(TempPosition(), scope.start() + 7);
    TempRelease(4);
    EXPECT_EQ(TempPosition(), scope.start() + 3);
}

TEST(TempBufferTest, ScopeRestoresThePosition) {
    const int64_t before = TempPosition();
    {
        TempScope scope;
        TempAppend("some intermediate text");
        EXPECT_GT(TempPosition(), before);
    }
    EXPECT_EQ(TempPosition(), before);
}

TEST(TempBufferTest, AppendingTextFromInsideTheBufferSurvivesAMove) {
    StringSystemEnd();
    StringSystemInit();
    TempScope scope;
    TempAppend("abcdefghij");  // 10 bytes: the next append must grow the 16-byte block
    const char* inside = TempAt(scope.start());
    TempAppend(inside);
    EXPECT_STREQ(scope.text(), "abcdefghijabcdefghij");
}

TEST(TempBufferTest, HandlesSurviveGrowthButOnlyCoverTheUsedPart) {
    TempScope scope;
    TempAppend("coordinate");
    const int64_t handle = TempOffsetOf(TempAt(scope.start() + 3));
    EXPECT_EQ(handle, scope.start() + 4);
    EXPECT_EQ(TempOffsetOf(TempAt(TempPosition() + 1)), 0);  // past the used part
    const char outside[] = "elsewhere";
    EXPECT_EQ(TempOffsetOf(outside), 0);
    EXPECT_EQ(TempOffsetOf(nullptr), 0);

    ASSERT_NE(TempReserve(100000, TempPosition()), nullptr);  // certainly grows
    EXPECT_STREQ(TempPointer(handle), "rdinate");
}

TEST(TempBufferTest, EmptyAtAndOversizedRequests) {
    TempScope scope;
    TempAppend("xyz");
    char* base = TempEmptyAt(scope.start());
    EXPECT_EQ(base + scope.start(), TempAt(scope.start()));
    EXPECT_STREQ(TempAt(scope.start()), "");
    EXPECT_EQ(TempPosition(), scope.start());

    // Requests that would leave the 32-bit size range cannot be met; nothing moves.
    EXPECT_EQ(TempReserve(int64_t{1} << 31, scope.start()), nullptr);
    EXPECT_EQ(TempReserve(10, -1), nullptr);
    EXPECT_EQ(TempPosition(), scope.start());
}

// Each thread builds its texts in a buffer of its own: concurrent builders never see each
// other's bytes.
TEST(TempBufferTest, ThreadsHaveSeparateBuffers) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &mismatches] {
            const std::string piece(static_cast<size_t>(5 + t * 7), static_cast<char>('a' + t));
            for (int round = 0; round < kRounds; ++round) {
                TempScope scope;
                TempAppend(piece.c_str());
                TempAppend(piece.c_str());
                if (std::string(scope.text()) != piece + piece) ++mismatches;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(TempBufferTest, AThreadStartsWithAFreshBuffer) {
    TempAppend("main thread text");
    int64_t positionSeen = -1;
    int64_t capacitySeen = -1;
    std::thread([&] {
        positionSeen = TempPosition();
        capacitySeen = TempCapacity();
    }).join();
    EXPECT_EQ(positionSeen, 0);
    EXPECT_EQ(capacitySeen, 16);
    TempSetPosition(0);
}

}  // namespace
