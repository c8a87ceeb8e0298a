#include "runtime/charset.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/string_variable.h"

namespace {

std::string ToLatin1(const std::string& utf8) {
    std::string out(utf8.size() + 1, '#');
    int64_t written = -1;
    Utf8ToLatin1(out.data(), &written, utf8.data(), static_cast<int64_t>(utf8.size()));
    EXPECT_LE(written, static_cast<int64_t>(utf8.size()));
    return out.substr(0, static_cast<size_t>(written));
}

struct Utf8Case {
    const char* name;
    std::string utf8;
    std::string latin1;
};

TEST(Utf8ToLatin1Test, MapsOrReplacesEveryByteSequence) {
    const Utf8Case cases[] = {
        {"ascii", "N 48.1", "N 48.1"},
        {"two-byte Latin-1", "Z\xC3\xBCrich", "Z\xFCrich"},
        {"two-byte outside Latin-1", "\xC4\x80x", "?x"},
        {"overlong zero", std::string("\xC0\x80", 2) + "x", "?x"},
        {"lead without continuation", "\xC3(", "?("},
        {"three-byte",
         "a\xE2\x82\xAC"
         "b",
         "a?b"},
        {"four-byte", "\xF0\x9F\x8C\x8D!", "?!"},
        {"three-byte lead, bytes that do not continue", "\xE2xyz", "?xyz"},
        {"stray continuation",
         "a\x80\xBF"
         "b",
         "ab"},
        {"bytes F8 to FF",
         "a\xF8\xFF"
         "b",
         "ab"},
        {"two-byte lead at the end", "ab\xC3", "ab"},
        {"three-byte lead short of bytes", "a\xE2\x82", "a"},
        {"four-byte lead short of bytes", "\xF0\x9F\x8C", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ToLatin1(c.utf8), c.latin1) << c.name;
}

TEST(Latin1ToUtf8Test, NeverSplitsASequence) {
    const char input[] =
        "a\xE9"
        "b";  // a é b
    char out[8];
    int64_t capacity = 2;  // room for "a" and only half of é
    int64_t length = 3;
    Latin1ToUtf8(out, &capacity, input, &length);
    EXPECT_EQ(capacity, 1);
    EXPECT_EQ(length, 1);

    capacity = sizeof out;
    length = 3;
    Latin1ToUtf8(out, &capacity, input, &length);
    EXPECT_EQ(capacity, 4);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(std::string(out, 4),
              "a\xC3\xA9"
              "b");
}

TEST(TextToUtf8CopyTest, RoundTripsEveryLatin1Character) {
    std::string all;
    for (int c = 1; c < 256; ++c)
        all.push_back(static_cast<char>(c));
    char* utf8 = TextToUtf8Copy(all.c_str());
    ASSERT_NE(utf8, nullptr);
    EXPECT_EQ(std::strlen(utf8), 127u + 2u * 128u);
    EXPECT_EQ(ToLatin1(utf8), all);
    StringFree(utf8);

    char* empty = TextToUtf8Copy(nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    StringFree(empty);
}

}  // namespace
