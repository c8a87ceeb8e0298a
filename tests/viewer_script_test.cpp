// The viewer script: the golden text, with every value going in unchanged, joined by the given
// line break and written at the given start even when the values lie in the buffer there.
#include "app/viewer_script.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "runtime/temp_buffer.h"
#include "tests/support/test_data.h"

namespace {

using test_data::GoldenScript;

TEST(ComposeViewerScriptTest, IsTheGoldenScriptWithTheValuesPutIn) {
    struct Case {
        const char* latitude;
        const char* longitude;
        int64_t distance;
        const char* lineBreak;
        std::string expected;
    };
    const Case cases[] = {
        {"48.117300", "11.516667", 500, "\r\n", test_data::Golden("viewer-script")},
        {"-33.75205750", "151.20200", 35000, "\r\n",
         GoldenScript("-33.75205750", "151.20200", "35000")},
        {"1,5", "\"x\"", -1, "\r\n", GoldenScript("1,5", "\"x\"", "-1")},  // no quoting
        {nullptr, "", std::numeric_limits<int64_t>::min(), "\r\n",
         GoldenScript("", "", "-9223372036854775808")},
        {"1", "2", 3, "\n", GoldenScript("1", "2", "3", "\n")},
    };
    for (const Case& c : cases) {
        TempScope scope;
        TempAppend("keep");
        const int64_t start = TempPosition() + 1;
        const std::string script =
            ComposeViewerScript(c.latitude, c.longitude, c.distance, c.lineBreak, start);
        EXPECT_EQ(script, c.expected) << c.longitude;
        EXPECT_EQ(TempPosition(), start + static_cast<int64_t>(script.size()));
        EXPECT_STREQ(TempAt(scope.start()), "keep");
    }
}

// The worker may build the coordinate texts in the temporary buffer, at the very start the
// script is written to: the script must still carry the original texts.
TEST(ComposeViewerScriptTest, ArgumentsInsideTheTemporaryBuffer) {
    TempScope scope;
    TempAppend("-33.75205750");
    const int64_t longitudeStart = TempPosition() + 1;
    TempSetPosition(longitudeStart);
    TempAppend("151.20200");
    const std::string script = ComposeViewerScript(TempAt(scope.start()), TempAt(longitudeStart),
                                                   5000, "\r\n", scope.start());
    EXPECT_EQ(script, GoldenScript("-33.75205750", "151.20200", "5000"));
}

}  // namespace
