#include "runtime/temp_buffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(TempBufferTest, AppendJoinsPiecesAndTheScopeRestoresThePosition) {
    const int64_t before = TempPosition();
    {
        TempScope scope;
        TempAppend("48.");
        TempAppend(nullptr);  // writes only a zero
        TempAppend("1173");
        EXPECT_STREQ(scope.text(), "48.1173");
        TempRelease(4);
        EXPECT_EQ(TempPosition(), scope.start() + 3);
        EXPECT_STREQ(TempEmptyAt(scope.start()) + scope.start(), "");
        // Requests that would leave the 32-bit size range cannot be met; nothing moves.
        EXPECT_EQ(TempReserve(int64_t{1} << 31, scope.start()), nullptr);
        EXPECT_EQ(TempReserve(10, -1), nullptr);
        EXPECT_EQ(TempPosition(), scope.start());
    }
    EXPECT_EQ(TempPosition(), before);
}

TEST(TempBufferTest, TextsFromInsideTheBufferSurviveItsGrowth) {
    StringSystemEnd();
    StringSystemInit();  // a fresh, small buffer
    TempScope scope;
    TempAppend("abcdefghij");
    TempAppend(TempAt(scope.start()));  // grows the buffer while reading from it
    EXPECT_STREQ(scope.text(), "abcdefghijabcdefghij");
    const int64_t handle = TempOffsetOf(TempAt(scope.start() + 3));
    const char outside[] = "elsewhere";
    for (const char* wrong :
         std::initializer_list<const char*>{TempAt(TempPosition() + 1), outside, nullptr})
        EXPECT_EQ(TempOffsetOf(wrong), 0);
    ASSERT_NE(TempReserve(100000, TempPosition()), nullptr);  // certainly moves
    EXPECT_STREQ(TempPointer(handle), "defghijabcdefghij");
}

// Concurrent builders never see each other's bytes, and a new thread starts with an empty buffer.
TEST(TempBufferTest, ThreadsHaveSeparateBuffers) {
    TempAppend("main thread text");
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &mismatches] {
            if (TempPosition() != 0) ++mismatches;
            const std::string piece(static_cast<size_t>(5 + t * 7), static_cast<char>('a' + t));
            for (int round = 0; round < 2000; ++round) {
                TempScope scope;
                TempAppend(piece.c_str());
                TempAppend(piece.c_str());
                if (scope.text() != piece + piece) ++mismatches;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    TempSetPosition(0);
}

}  // namespace
