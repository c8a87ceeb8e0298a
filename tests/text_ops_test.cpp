#include "runtime/text_ops.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/temp_buffer.h"

namespace {

// Each case runs in its own scope so the buffer position returns to where it was.
std::string Left(const char* text, int32_t count) {
    TempScope scope;
    const std::string result = TextLeft(text, count, scope.start());
    EXPECT_EQ(TempPosition(), scope.start() + static_cast<int64_t>(result.size()));
    return result;
}

std::string Mid(const char* text, int32_t first, int32_t count) {
    TempScope scope;
    const std::string result = TextMid(text, first, count, scope.start());
    EXPECT_EQ(TempPosition(), scope.start() + static_cast<int64_t>(result.size()));
    return result;
}

std::string MidToEnd(const char* text, int32_t first) {
    TempScope scope;
    return TextMidToEnd(text, first, scope.start());
}

std::string Field(const char* text, int32_t index, const char* separator) {
    TempScope scope;
    const std::string result = TextField(text, index, separator, scope.start());
    EXPECT_EQ(TempPosition(), scope.start() + static_cast<int64_t>(result.size()));
    return result;
}

struct LeftCase {
    const char* text;
    int32_t count;
    const char* expected;
};

TEST(TextLeftTest, ClampsCountToText) {
    const LeftCase cases[] = {{"4807.038", 2, "48"}, {"4807.038", 0, ""},
                              {"4807.038", -3, ""},  {nullptr, 4, ""},
                              {"", 4, ""},           {"abc", 99, "abc"},
                              {"abc", 3, "abc"},     {"abc", 2147483647, "abc"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Left(c.text, c.count), c.expected)
            << (c.text ? c.text : "null") << " " << c.count;
    }
}

struct MidCase {
    const char* text;
    int32_t first;
    int32_t count;
    const char* expected;
};

TEST(TextMidTest, ClampsFirstAndCount) {
    const MidCase cases[] = {{"abcdef", 0, 3, "abc"},
                             {"abcdef", 1, 3, "abc"},
                             {"abcdef", -7, 2, "ab"},
                             {"abcdef", 3, 2, "cd"},
                             {"abcdef", 5, 99, "ef"},
                             {"abcdef", 6, 1, "f"},
                             {"abcdef", 7, 1, ""},
                             {"abcdef", 50, 1, ""},
                             {"abcdef", 2, 0, ""},
                             {"abcdef", 2, -1, ""},
                             {nullptr, 1, 3, ""},
                             {"", 1, 3, ""},
                             {"abcdef", 2147483647, 2147483647, ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(Mid(c.text, c.first, c.count), c.expected)
            << (c.text ? c.text : "null") << " " << c.first << " " << c.count;
    }
}

TEST(TextMidToEndTest, TakesTheRest) {
    EXPECT_EQ(MidToEnd("4916.45", 3), "16.45");
    EXPECT_EQ(MidToEnd("4916.45", 0), "4916.45");
    EXPECT_EQ(MidToEnd("4916.45", -2147483647 - 1), "4916.45");
    EXPECT_EQ(MidToEnd("4916.45", 7), "5");
    EXPECT_EQ(MidToEnd("4916.45", 8), "");
    EXPECT_EQ(MidToEnd(nullptr, 1), "");
}

struct FieldCase {
    const char* text;
    int32_t index;
    const char* separator;
    const char* expected;
};

TEST(TextFieldTest, SplitsAtEverySeparator) {
    const char* rmc = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A";
    const FieldCase cases[] = {
        {rmc, 1, ",", "$GPRMC"},
        {rmc, 4, ",", "4807.038"},
        {rmc, 5, ",", "N"},
        {rmc, 6, ",", "01131.000"},
        {rmc, 7, ",", "E"},
        {rmc, 12, ",", "W*6A"},
        {rmc, 13, ",", ""},
        {rmc, 0, ",", ""},
        {rmc, -1, ",", ""},
        {"a,,c", 2, ",", ""},
        {"a,,c", 3, ",", "c"},
        {",b", 1, ",", ""},
        {",b", 2, ",", "b"},
        {"a,", 2, ",", ""},
        {"a,", 3, ",", ""},
        {"127.0.0.1", 4, ".", "1"},
        {"127.0.0.1", 1, ".", "127"},
        {"whole text", 1, "", "whole text"},
        {"whole text", 2, "", ""},
        {"whole text", 1, nullptr, "whole text"},
        {nullptr, 1, ",", ""},
        {"", 1, ",", ""},
        // Multi-character separators: the leftmost match wins and matches never overlap.
        {"a::b::c", 2, "::", "b"},
        {"a::b::c", 3, "::", "c"},
        {"a:::b", 2, "::", ":b"},
        {"a::::b", 2, "::", ""},
        {"a::::b", 3, "::", "b"},
        {"a<>b", 2, "<>", "b"},
        {"a<>b", 2, "<x", ""},
        {"a<>b", 1, "<x", "a<>b"},
        {"::", 2, "::", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(Field(c.text, c.index, c.separator), c.expected)
            << (c.text ? c.text : "null") << " #" << c.index << " sep "
            << (c.separator ? c.separator : "null");
    }
}

struct FindCase {
    const char* text;
    const char* needle;
    int32_t start;
    int32_t mode;
    int32_t expected;
};

TEST(TextSearchTest, FindsFirstOccurrenceFromStart) {
    const FindCase cases[] = {{"4916.45", ".", 1, 0, 5},
                              {"4916.45", "", 1, 0, 0},
                              {"", ".", 1, 0, 0},
                              {nullptr, ".", 1, 0, 0},
                              {"4916.45", nullptr, 1, 0, 0},
                              {"abcabc", "bc", 1, 0, 2},
                              {"abcabc", "bc", 3, 0, 5},
                              {"abcabc", "bc", 0, 0, 2},
                              {"abcabc", "bc", -9, 0, 2},
                              {"abcabc", "c", 6, 0, 6},
                              {"abcabc", "c", 7, 0, 0},
                              {"$GPRMC", "$gprmc", 1, 0, 0},
                              {"$GPRMC", "$gprmc", 1, kTextIgnoreCase, 1},
                              {"xx$GpRmC", "$gprmc", 1, kTextIgnoreCase, 3},
                              {"abc", "abcd", 1, kTextIgnoreCase, 0},
                              {"ABCabc", "abc", 2, kTextIgnoreCase, 4}};
    for (const auto& c : cases) {
        EXPECT_EQ(TextSearch(c.text, c.needle, c.start, c.mode), c.expected)
            << (c.text ? c.text : "null") << " / " << (c.needle ? c.needle : "null") << " from "
            << c.start << " mode " << c.mode;
    }
    EXPECT_EQ(TextFind("4916.45", "."), 5);
    EXPECT_EQ(TextFindFrom("a.b.c", ".", 3), 4);
}

TEST(TextCompareTest, ExactBytesAndNullAsEmpty) {
    EXPECT_EQ(TextCompare("$GPRMC", "$GPRMC"), 1);
    EXPECT_EQ(TextCompare("$GPRMC", "$gprmc"), 0);
    EXPECT_EQ(TextCompare("$GPRMC", "$GPRMC,"), 0);
    EXPECT_EQ(TextCompare(nullptr, ""), 1);
    EXPECT_EQ(TextCompare(nullptr, nullptr), 1);
    EXPECT_EQ(TextCompare(nullptr, "a"), 0);
    EXPECT_EQ(TextLength(nullptr), 0);
    EXPECT_EQ(TextLength("\xE9t\xE9"), 3);  // Latin-1: one byte per character
}

TEST(TextFromMemoryTest, StopsAtZeroAndLength) {
    char received[128] = "$GPRMC,1\0garbage after the zero";
    TempScope scope;
    EXPECT_STREQ(TextFromMemory(received, 128, scope.start()), "$GPRMC,1");
    EXPECT_EQ(TempPosition(), scope.start() + 8);
    EXPECT_STREQ(TextFromMemory(received, 4, scope.start()), "$GPR");
    EXPECT_STREQ(TextFromMemory(received, 0, scope.start()), "");
    EXPECT_STREQ(TextFromMemory(received, -1, scope.start()), "$GPRMC,1");
    EXPECT_STREQ(TextFromMemory(received, -2, scope.start()), "");
    EXPECT_STREQ(TextFromMemory(nullptr, 10, scope.start()), "");
    EXPECT_STREQ(TextFromMemory(nullptr, -1, scope.start()), "");
    // No zero within the length: exactly length bytes, and a zero is added.
    const char exact[4] = {'a', 'b', 'c', 'd'};
    EXPECT_STREQ(TextFromMemory(exact, 4, scope.start()), "abcd");
}

// A source built in the buffer just before must survive the buffer moving when the result
// needs more room than is free.
TEST(TextOpsInBufferTest, SourceInsideBufferSurvivesGrowth) {
    StringSystemEnd();
    StringSystemInit();  // a fresh 16-byte buffer, so the next results force growth
    TempScope scope;
    TempAppend("0123456789");
    const int64_t firstEnd = TempPosition();
    for (int round = 0; round < 3; ++round) {
        // Each result starts past the used part, so it needs fresh room every time.
        const char* source = TempAt(scope.start());
        const int64_t capacity = TempCapacity();
        const int64_t far = capacity - 2;
        const std::string left = TextLeft(source, 10, far);
        EXPECT_EQ(left, "0123456789");
        EXPECT_GT(TempCapacity(), capacity);
        TempSetPosition(firstEnd);
    }
    const char* source = TempAt(scope.start());
    const int64_t far = TempCapacity() - 1;
    EXPECT_STREQ(TextField(source, 1, "5", far), "01234");
    TempSetPosition(firstEnd);
    source = TempAt(scope.start());
    EXPECT_STREQ(TextMid(source, 4, 3, TempCapacity() - 1), "345");
    TempSetPosition(firstEnd);
    source = TempAt(scope.start());
    EXPECT_STREQ(TextMidToEnd(source, 8, TempCapacity() - 1), "789");
}

// A result may be written over its own source when it starts at or before it.
TEST(TextOpsInBufferTest, ResultMayOverlapItsSource) {
    TempScope scope;
    TempAppend("abcdef");
    EXPECT_STREQ(TextMidToEnd(TempAt(scope.start()), 3, scope.start()), "cdef");
    EXPECT_STREQ(TextField(TempAt(scope.start()), 2, "d", scope.start()), "ef");
}

}  // namespace
