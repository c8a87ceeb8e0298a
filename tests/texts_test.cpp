// Texts: the per-thread temporary buffer, string variables and the text operations.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "runtime/string_variable.h"
#include "runtime/temp_buffer.h"
#include "runtime/text_ops.h"

namespace {

TEST(TempBufferTest, TextsFromInsideTheBufferSurviveItsGrowth) {
    StringSystemEnd();
    StringSystemInit();  // a fresh, small buffer
    TempScope scope;
    TempAppend("abcdefghij");
    TempAppend(TempAt(scope.Start()));  // grows the buffer while reading from it
    EXPECT_STREQ(scope.Text(), "abcdefghijabcdefghij");
    const int64_t handle = TempOffsetOf(TempAt(scope.Start() + 3));
    const char outside[] = "elsewhere";
    for (const char* wrong :
         std::initializer_list<const char*>{TempAt(TempPosition() + 1), outside, nullptr})
        EXPECT_EQ(TempOffsetOf(wrong), 0);
    ASSERT_NE(TempReserve(100000, TempPosition()), nullptr);  // certainly moves
    EXPECT_STREQ(TempPointer(handle), "defghijabcdefghij");
    // A null text appends nothing but its zero; positions 0 to the capacity lie in the block.
    TempSetPosition(scope.Start() + 3);
    TempAppend(nullptr);
    EXPECT_STREQ(scope.Text(), "abc");
    EXPECT_EQ(TempAt(0), TempPointer(1));
    EXPECT_EQ(TempAt(TempCapacity()), TempPointer(1) + TempCapacity());
    EXPECT_STREQ(TempAt(TempCapacity() + 1), "");
    StringSystemEnd();
    StringSystemInit();  // the first block, too, holds a zero at its capacity (ASan)
    TempSetPosition(TempCapacity());
    TempAppend(nullptr);
    EXPECT_STREQ(TempAt(TempCapacity()), "");
    TempSetPosition(0);
}

// Concurrent builders never see each other's bytes, and a new thread starts with an empty buffer.
TEST(TempBufferTest, ThreadsHaveSeparateBuffers) {
    TempAppend("main thread text");
    std::atomic<int> mismatches{0};
    const auto build = [&mismatches](char letter) {
        mismatches += TempPosition() != 0;
        const std::string piece(static_cast<size_t>(letter - 'a' + 5), letter);
        for (int round = 0; round < 2000; ++round) {
            TempScope scope;
            TempAppend(piece.c_str());
            TempAppend(piece.c_str());
            mismatches += scope.Text() != piece + piece;
        }
    };
    std::thread a(build, 'a'), b(build, 'k'), c(build, 'x');
    a.join(), b.join(), c.join();
    EXPECT_EQ(mismatches.load(), 0);
    TempSetPosition(0);
}

// A copy, even of its own text; null frees; taking from the buffer pops it, nothing gives "".
TEST(StringVariableTest, AssignCopiesAndTakesFromTheBuffer) {
    StringVariable kept;
    EXPECT_EQ(StringAssign(kept.Slot(), "$GPRMC,123519"), 14);
    StringAssign(kept.Slot(), kept.Text() + 7);
    EXPECT_STREQ(kept.Text(), "123519");
    EXPECT_EQ(StringAssign(kept.Slot(), nullptr), 1);
    EXPECT_TRUE(kept.IsNull());
    const int64_t saved = TempPosition();
    TempAppend("48.117300");
    StringAssignFromTemp(kept.Slot(), saved);
    EXPECT_STREQ(kept.Text(), "48.117300");
    EXPECT_EQ(TempPosition(), saved);
    char* copy = nullptr;
    StringCopyNew(&copy, kept.Text());
    EXPECT_TRUE(copy != kept.Text() && std::string(copy) == "48.117300");
    StringFree(copy);
    StringAssignFromTemp(kept.Slot(), saved);
    EXPECT_STREQ(kept.IsNull() ? "null" : kept.Text(), "");
}

// Runs operation in a scope of its own and checks that it leaves the position on the zero.
template <typename Operation, typename... Arguments>
std::string Result(Operation operation, Arguments... arguments) {
    TempScope scope;
    const std::string result = operation(arguments..., scope.Start());
    EXPECT_EQ(TempPosition(), scope.Start() + static_cast<int64_t>(result.size()));
    return result;
}

constexpr int32_t kMax = 2147483647, kMin = -kMax - 1;

TEST(TextOpsTest, LeftMidAndMidToEndClampToTheText) {
    // Text, first (0: TextLeft), count (-9: TextMidToEnd), result.
    const std::tuple<const char*, int32_t, int32_t, const char*> cases[] = {
        {"4807.038", 0, 2, "48"}, {"4807.038", 0, -3, ""},    {nullptr, 0, 4, ""},
        {"abc", 0, kMax, "abc"},  {"abcdef", -7, 2, "ab"},    {"abcdef", 3, 2, "cd"},
        {"abcdef", 5, 99, "ef"},  {"abcdef", 7, 1, ""},       {"abcdef", 2, -1, ""},
        {nullptr, 1, 3, ""},      {"abcdef", kMax, kMax, ""}, {"4916.45", 3, -9, "16.45"},
        {"4.5", kMin, -9, "4.5"}, {"4916.45", 7, -9, "5"},    {"4916.45", 8, -9, ""},
        {nullptr, 1, -9, ""}};
    for (const auto& [text, first, count, expected] : cases) {
        const std::string result = first == 0    ? Result(TextLeft, text, count)
                                   : count == -9 ? Result(TextMidToEnd, text, first)
                                                 : Result(TextMid, text, first, count);
        EXPECT_EQ(result, expected) << (text ? text : "null") << " " << first << " " << count;
    }
}

TEST(TextOpsTest, SearchFromAStartWithOrWithoutCaseAndCompare) {
    // Text, needle, start, position: exact, then ignoring case.
    using Searches = std::vector<std::tuple<const char*, const char*, int32_t, int32_t>>;
    const Searches exact = {
        {"4916.45", ".", 1, 5}, {"4916.45", "", 1, 0},      {"", ".", 1, 0},
        {nullptr, ".", 1, 0},   {"4916.45", nullptr, 1, 0}, {"abcabc", "bc", 3, 5},
        {"abcabc", "bc", 2, 2}, {"abcabc", "bc", -5, 2},    {"abcabc", "c", 6, 6},
        {"abcabc", "c", 7, 0},  {"$GPRMC", "rmc", 1, 0}};
    const Searches noCase = {{"$GPRMC", "rmc", 1, 4}, {"xAZ", "az", 0, 2},   {"@[`{", "`{", 1, 3},
                             {"aBc", "BCD", 1, 0},    {"xAbAB", "ab", 3, 4}, {"xAbAB", "ab", 6, 0},
                             {"Abx", "aby", 1, 0}};
    for (const auto& [mode, searches] : {std::pair{0, exact}, std::pair{kTextIgnoreCase, noCase}})
        for (const auto& [text, needle, start, expected] : searches)
            EXPECT_EQ(TextSearch(text, needle, start, mode), expected)
                << (text ? text : "null") << " " << (needle ? needle : "null") << " " << start;
    EXPECT_EQ(TextFindFrom("abcabc", "bc", 3), 5);
    EXPECT_EQ(TextFind("abcabc", "ca"), 3);
    EXPECT_EQ(TextLength(nullptr), 0);
    EXPECT_EQ(TextLength("4916.45"), 7);
    EXPECT_EQ(TextCompare(nullptr, ""), 1);
    EXPECT_EQ(TextCompare("$GPRMC", "$gprmc"), 0);
    EXPECT_EQ(TextCompare("$GPRMC", "$GPRMC"), 1);
}

TEST(TextOpsTest, FieldSplitsAtEverySeparator) {
    const char* rmc = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A";
    const std::tuple<const char*, int32_t, const char*, const char*> cases[] = {
        {rmc, 4, ",", "4807.038"}, {rmc, 12, ",", "W*6A"},    {rmc, 13, ",", ""},
        {rmc, 0, ",", ""},         {"a,,c", 2, ",", ""},      {"a,,c", 3, ",", "c"},
        {",b", 1, ",", ""},        {",b", 2, ",", "b"},       {"a,", 3, ",", ""},
        {"ab", 1, "", "ab"},       {"ab", 2, "", ""},         {"ab", 1, nullptr, "ab"},
        {nullptr, 1, ",", ""},     {"a::b::c", 3, "::", "c"}, {"a:::b", 2, "::", ":b"},
        {"a::::b", 2, "::", ""},   {"a<>b", 2, "<x", ""},     {"::", 2, "::", ""}};
    for (const auto& [text, index, separator, expected] : cases)
        EXPECT_EQ(Result(TextField, text, index, separator), expected)
            << (text ? text : "null") << " #" << index << " " << (separator ?: "null");
}

TEST(TextOpsTest, FromMemoryStopsAtZeroAndLength) {
    const char received[128] = "$GPRMC,1\0garbage after the zero";
    const char exact[4] = {'a', 'b', 'c', 'd'};  // no zero: exactly length bytes, zero added
    const std::tuple<const char*, int32_t, const char*> cases[] = {
        {received, 128, "$GPRMC,1"}, {received, 4, "$GPR"}, {received, -1, "$GPRMC,1"},
        {received, -2, ""},          {nullptr, 10, ""},     {exact, 4, "abcd"}};
    for (const auto& [memory, length, expected] : cases)
        EXPECT_EQ(Result(TextFromMemory, memory, length), expected) << length;
}

// A source survives the buffer moving, and a result may overwrite its source from at or before.
TEST(TextOpsTest, SourcesInsideTheBufferSurviveGrowthAndOverlap) {
    StringSystemEnd();
    StringSystemInit();  // a fresh, small buffer, so results far out force growth
    TempScope scope;
    TempAppend("0123456789");
    const int64_t end = TempPosition();
    EXPECT_STREQ(TextLeft(TempAt(scope.Start()), 10, TempCapacity() - 2), "0123456789");
    TempSetPosition(end);
    EXPECT_STREQ(TextField(TempAt(scope.Start()), 1, "5", TempCapacity() - 1), "01234");
    TempSetPosition(end);
    EXPECT_STREQ(TextMidToEnd(TempAt(scope.Start()), 3, scope.Start()), "23456789");
    EXPECT_STREQ(TextField(TempAt(scope.Start()), 2, "5", scope.Start()), "6789");
}

}  // namespace
