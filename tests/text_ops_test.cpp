#include "runtime/text_ops.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/temp_buffer.h"

namespace {

// Runs one operation in a scope of its own and checks that it leaves the position on the zero.
template <typename Operation>
std::string Result(Operation operation) {
    TempScope scope;
    const std::string result = operation(scope.start());
    EXPECT_EQ(TempPosition(), scope.start() + static_cast<int64_t>(result.size()));
    return result;
}

constexpr int32_t kMax = 2147483647, kMin = -kMax - 1;

TEST(TextOpsTest, LeftMidAndMidToEndClampToTheText) {
    const struct {
        const char* text;
        int32_t first, count;  // first 0: TextLeft; count -9: TextMidToEnd
        const char* expected;
    } cases[] = {{"4807.038", 0, 2, "48"}, {"4807.038", 0, -3, ""},    {nullptr, 0, 4, ""},
                 {"abc", 0, kMax, "abc"},  {"abcdef", -7, 2, "ab"},    {"abcdef", 3, 2, "cd"},
                 {"abcdef", 5, 99, "ef"},  {"abcdef", 7, 1, ""},       {"abcdef", 2, -1, ""},
                 {nullptr, 1, 3, ""},      {"abcdef", kMax, kMax, ""}, {"4916.45", 3, -9, "16.45"},
                 {"4.5", kMin, -9, "4.5"},

                 {"4916.45", 7, -9, "5"},  {"4916.45", 8, -9, ""},     {nullptr, 1, -9, ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(Result([&](int64_t start) -> std::string {
                      if (c.first == 0) return TextLeft(c.text, c.count, start);
                      if (c.count == -9) return TextMidToEnd(c.text, c.first, start);
                      return TextMid(c.text, c.first, c.count, start);
                  }),
                  c.expected)
            << (c.text ? c.text : "null") << " " << c.first << " " << c.count;
    }
}

TEST(TextOpsTest, FieldSplitsAtEverySeparator) {
    const char* rmc = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A";
    const struct {
        const char* text;
        int32_t index;
        const char *separator, *expected;
    } cases[] = {{rmc, 4, ",", "4807.038"}, {rmc, 12, ",", "W*6A"},   {rmc, 13, ",", ""},
                 {rmc, 0, ",", ""},         {"a,,c", 2, ",", ""},     {"a,,c", 3, ",", "c"},
                 {",b", 1, ",", ""},        {"a,", 3, ",", ""},       {"ab", 1, "", "ab"},
                 {"ab", 2, "", ""},         {"ab", 1, nullptr, "ab"}, {nullptr, 1, ",", ""},
                 {"a::b::c", 3, "::", "c"}, {"a:::b", 2, "::", ":b"}, {"a::::b", 2, "::", ""},
                 {"a<>b", 2, "<x", ""},     {"::", 2, "::", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(Result([&](int64_t start) -> std::string {
                      return TextField(c.text, c.index, c.separator, start);
                  }),
                  c.expected)
            << (c.text ? c.text : "null") << " #" << c.index << " " << (c.separator ?: "null");
    }
}

TEST(TextOpsTest, SearchCompareAndLength) {
    constexpr int32_t kIC = kTextIgnoreCase;
    const struct {
        const char *text, *needle;
        int32_t start, mode, expected;
    } cases[] = {{"4916.45", ".", 1, 0, 5},     {"4916.45", "", 1, 0, 0},
                 {nullptr, ".", 1, 0, 0},       {"abcabc", "bc", 3, 0, 5},
                 {"abcabc", "bc", -9, 0, 2},    {"abcabc", "c", 7, 0, 0},
                 {"$GPRMC", "$gprmc", 1, 0, 0}, {"xx$GpRmC", "$gprmc", 1, kIC, 3},
                 {"abc", "abcd", 1, kIC, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(TextSearch(c.text, c.needle, c.start, c.mode), c.expected)
            << (c.text ? c.text : "null") << " / " << c.needle << " from " << c.start;
    EXPECT_EQ(TextFind("4916.45", "."), 5);
    EXPECT_EQ(TextFindFrom("a.b.c", ".", 3), 4);
    const struct {
        const char *a, *b;
        int32_t equal;
    } comparisons[] = {{"$GPRMC", "$GPRMC", 1},
                       {"$GPRMC", "$gprmc", 0},
                       {"$GPRMC", "$GPRMC,", 0},
                       {nullptr, "", 1},
                       {nullptr, "a", 0}};
    for (const auto& c : comparisons)
        EXPECT_EQ(TextCompare(c.a, c.b), c.equal) << (c.a ? c.a : "null") << " " << c.b;
    EXPECT_EQ(TextLength(nullptr), 0);
    EXPECT_EQ(TextLength("\xE9t\xE9"), 3);  // Latin-1: one byte per character
}

TEST(TextOpsTest, FromMemoryStopsAtZeroAndLength) {
    const char received[128] = "$GPRMC,1\0garbage after the zero";
    const char exact[4] = {'a', 'b', 'c', 'd'};  // no zero: exactly length bytes, zero added
    const struct {
        const char* memory;
        int32_t length;
        const char* expected;
    } cases[] = {{received, 128, "$GPRMC,1"}, {received, 4, "$GPR"}, {received, -1, "$GPRMC,1"},
                 {received, -2, ""},          {nullptr, 10, ""},     {exact, 4, "abcd"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Result([&](int64_t start) -> std::string {
                      return TextFromMemory(c.memory, c.length, start);
                  }),
                  c.expected)
            << c.length;
    }
}

// A source in the buffer survives the buffer moving when the result needs more room than is
// free, and a result may be written over its own source when it starts at or before it.
TEST(TextOpsTest, SourcesInsideTheBufferSurviveGrowthAndOverlap) {
    StringSystemEnd();
    StringSystemInit();  // a fresh, small buffer, so results far out force growth
    TempScope scope;
    TempAppend("0123456789");
    const int64_t end = TempPosition();
    EXPECT_STREQ(TextLeft(TempAt(scope.start()), 10, TempCapacity() - 2), "0123456789");
    TempSetPosition(end);
    EXPECT_STREQ(TextField(TempAt(scope.start()), 1, "5", TempCapacity() - 1), "01234");
    TempSetPosition(end);
    EXPECT_STREQ(TextMidToEnd(TempAt(scope.start()), 3, scope.start()), "23456789");
    EXPECT_STREQ(TextField(TempAt(scope.start()), 2, "5", scope.start()), "6789");
}

}  // namespace
