// The one UTF-8 decoder under the file rule and the window system's, and conversions on it.
#include "runtime/charset.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "runtime/string_variable.h"
#include "ui/platform_string.h"

namespace {

std::string FileToLatin1(const std::string& utf8) {
    std::string out(utf8.size() + 1, '#');
    int64_t written = -1;
    Utf8ToLatin1(out.data(), &written, utf8.data(), static_cast<int64_t>(utf8.size()));
    return out.substr(0, static_cast<size_t>(written));
}

TEST(Utf8DecoderTest, EachRuleMapsEveryByteSequence) {
    // UTF-8, Latin-1 by the file rule, by the window system's (one per UTF-16 unit), the units.
    const std::tuple<std::string, const char*, const char*, int64_t> cases[] = {
        {"Z\xC3\xBCrich", "Z\xFCrich", "Z\xFCrich", 6},
        {"\xC4\x80x", "?x", "?x", 2},                        // outside Latin-1
        {"a\xE2\x82\xAC!", "a?!", "a?!", 3},                 // three bytes
        {"\xF0\x9F\x8C\x8D!", "?!", "?\?!", 3},              // four bytes: a surrogate pair
        {"\xEF\xBF\xBF", "?", "?", 1},                       // U+FFFF, one unit still
        {"\xF4\x8F\xBF\xBF", "?", "??", 2},                  // U+10FFFF
        {"\xF4\x90\x80\x80", "?", "????", 4},                // beyond U+10FFFF
        {"\xF5\x80\x80\x80x", "?x", "????x", 5},             // no lead of UTF-8
        {std::string("\xC0\x80", 2) + "x", "?x", "??x", 3},  // overlong zero
        {"\xC3(", "?(", "?(", 2},                            // lead without continuation
        {"\xED\xA0\x80", "?", "???", 3},                     // a lone surrogate
        {"a\x80\xBFz", "az", "a??z", 4},                     // stray continuations
        {"a\xF8\xFFz", "az", "a??z", 4},                     // bytes F8 to FF
        {"ab\xC3", "ab", "ab?", 3},                          // cut off by the end
        {"\xF0\x9F\x8C", "", "???", 3}};
    // A sequence cut off by the end of the input is not completed from the bytes behind it.
    char cut[4] = {};
    int64_t written = -1;
    Utf8ToLatin1(cut, &written, "ab\xC3\xA9", 3);
    EXPECT_EQ(std::string(cut, static_cast<size_t>(written)), "ab");
    for (const auto& [utf8, file, window, units] : cases) {
        EXPECT_EQ(FileToLatin1(utf8), file) << utf8;
        EXPECT_EQ(PlatformStringToLatin1(utf8), window) << utf8;
        EXPECT_EQ(PlatformStringLength(utf8), units) << utf8;
    }
}

TEST(Utf8DecoderTest, ConversionsNeverSplitASequenceAndKeepLatin1) {
    // Room for "a" and only half of é, or for "a" only: "a" alone is converted.
    for (const auto& [text, room] : {std::pair{"a\xE9z", 2}, std::pair{"ab", 1}}) {
        char out[8];
        int64_t capacity = room, length = static_cast<int64_t>(std::strlen(text));
        Latin1ToUtf8(out, &capacity, text, &length);
        EXPECT_TRUE(capacity == 1 && length == 1 && out[0] == 'a') << text;
    }
    char some[8];  // the length ends the input, not a zero byte
    int64_t room = 8, one = 1;
    Latin1ToUtf8(some, &room, "ab", &one);
    EXPECT_EQ(std::string(some, static_cast<size_t>(room)) + std::to_string(one), "a1");
    char fits[3];  // exactly room for "a" and é
    int64_t capacity = 3, length = 2;
    Latin1ToUtf8(fits, &capacity, "a\xE9", &length);
    EXPECT_EQ(std::string(fits, static_cast<size_t>(capacity)), "a\xC3\xA9");
    std::string all;
    for (int c = 1; c < 256; ++c)
        all.push_back(static_cast<char>(c));
    char* utf8 = TextToUtf8Copy(all.c_str());
    ASSERT_NE(utf8, nullptr);
    EXPECT_EQ(std::strlen(utf8), 127u + 2u * 128u);
    EXPECT_EQ(FileToLatin1(utf8), all);
    EXPECT_EQ(PlatformStringToLatin1(TextToPlatformString(all.c_str())), all);
    StringFree(utf8);
    utf8 = TextToUtf8Copy("");
    EXPECT_STREQ(utf8, "");
    StringFree(utf8);
    // Case forms stay inside Latin-1 (ß, ÷ and ÿ stay) and leave malformed bytes alone.
    EXPECT_EQ(PlatformStringUpperCase("a\xC3\xA0\xC3\xBE\xC3\x9F\xC3\xB7\xC3\xBF\xFF"),
              "A\xC3\x80\xC3\x9E\xC3\x9F\xC3\xB7\xC3\xBF\xFF");
    // Characters beyond Latin-1 come back as they went in, whatever their length in UTF-8.
    for (const char* beyond : {"\xDF\xBF", "\xE0\xA0\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80"})
        EXPECT_EQ(PlatformStringUpperCase(beyond), beyond);
    EXPECT_EQ(PlatformStringLowerCase("Z\xC3\x80\xC3\x9E\xC3\x97\xFF"),
              "z\xC3\xA0\xC3\xBE\xC3\x97\xFF");
}

}  // namespace
