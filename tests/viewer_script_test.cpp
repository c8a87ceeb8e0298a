#include "app/viewer_script.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "runtime/temp_buffer.h"

namespace {

constexpr const char* kCrLf = "\r\n";

std::string Compose(const char* latitude, const char* longitude, int64_t distance,
                    const char* lineBreak = kCrLf) {
    TempScope scope;
    const std::string script =
        ComposeViewerScript(latitude, longitude, distance, lineBreak, scope.start());
    EXPECT_EQ(TempPosition(), scope.start() + static_cast<int64_t>(script.size()));
    return script;
}

// The script as the viewer expects it, built independently of the code under test.
std::string Expected(const std::string& latitude, const std::string& longitude,
                     const std::string& distance) {
    return "tell application \"Google Earth\"\r\n"
           "set viewInfo To GetViewInfo\r\n"
           "set latitude of viewInfo To " +
           latitude +
           "\r\n"
           "set longitude of viewInfo To " +
           longitude +
           "\r\n"
           "set distance of viewInfo To " +
           distance +
           "\r\n"
           "set tilt of viewInfo To 0\r\n"
           "SetViewInfo viewInfo speed 0.9\r\n"
           "End tell";
}

std::vector<std::string> SplitAtCrLf(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t found = text.find(kCrLf); found != std::string::npos;
         found = text.find(kCrLf, from)) {
        lines.push_back(text.substr(from, found - from));
        from = found + 2;
    }
    lines.push_back(text.substr(from));
    return lines;
}

TEST(ComposeViewerScriptTest, MunichExampleHasTheExactLayout) {
    const std::string script = Compose("48.117300", "11.516667", 500);
    EXPECT_EQ(script.size(), 241u);
    EXPECT_EQ(script, Expected("48.117300", "11.516667", "500"));

    const std::vector<std::string> lines = SplitAtCrLf(script);
    const std::vector<size_t> lengths = {31, 27, 37, 38, 31, 25, 30, 8};
    ASSERT_EQ(lines.size(), lengths.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].size(), lengths[i]) << "line " << i + 1 << ": " << lines[i];
        EXPECT_EQ(lines[i].find_first_of("\r\n"), std::string::npos) << "line " << i + 1;
    }
    EXPECT_EQ(script.substr(script.size() - 8), "End tell");
}

TEST(ComposeViewerScriptTest, ValuesGoInUnchanged) {
    struct Case {
        const char* latitude;
        const char* longitude;
        int64_t distance;
        const char* distanceText;
    };
    const Case cases[] = {
        {"-33.75205750", "151.20200", 5000, "5000"},
        {"-48.117300", "-11.516667", 500, "500"},
        {"48.117300", "11.516667", 35000, "35000"},
        {"0", "0", 500, "500"},
        {"", "", 0, "0"},
        {"1,5", "\"x\"", -1, "-1"},  // no escaping, no quoting
        {"48.1", "11.5", std::numeric_limits<int64_t>::min(), "-9223372036854775808"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Compose(c.latitude, c.longitude, c.distance),
                  Expected(c.latitude, c.longitude, c.distanceText))
            << c.latitude << " " << c.longitude << " " << c.distance;
    }
}

TEST(ComposeViewerScriptTest, NullCoordinatesReadAsEmpty) {
    EXPECT_EQ(Compose(nullptr, nullptr, 500), Expected("", "", "500"));
}

TEST(ComposeViewerScriptTest, UsesTheGivenLineBreak) {
    const std::string script = Compose("1", "2", 3, "\n");
    EXPECT_EQ(script,
              "tell application \"Google Earth\"\nset viewInfo To GetViewInfo\n"
              "set latitude of viewInfo To 1\nset longitude of viewInfo To 2\n"
              "set distance of viewInfo To 3\nset tilt of viewInfo To 0\n"
              "SetViewInfo viewInfo speed 0.9\nEnd tell");
}

// The worker may build the coordinate texts in the temporary buffer; a script written over them
// must still carry the original texts.
TEST(ComposeViewerScriptTest, ArgumentsInsideTheTemporaryBuffer) {
    TempScope scope;
    TempAppend("-33.75205750");
    const int64_t longitudeStart = TempPosition() + 1;
    TempSetPosition(longitudeStart);
    TempAppend("151.20200");
    const char* latitude = TempAt(scope.start());
    const char* longitude = TempAt(longitudeStart);

    const std::string script = ComposeViewerScript(latitude, longitude, 5000, kCrLf, scope.start());
    EXPECT_EQ(script, Expected("-33.75205750", "151.20200", "5000"));
}

TEST(ComposeViewerScriptTest, WritesAtTheGivenStartAndKeepsEarlierText) {
    TempScope scope;
    TempAppend("keep");
    const int64_t start = TempPosition();
    ComposeViewerScript("1", "2", 500, kCrLf, start);
    EXPECT_EQ(std::string(TempAt(scope.start()), 4), "keep");
    EXPECT_EQ(std::string(TempAt(start)), Expected("1", "2", "500"));
    EXPECT_EQ(TempPosition(), start + static_cast<int64_t>(std::strlen(TempAt(start))));
}

}  // namespace
