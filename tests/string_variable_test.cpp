#include "runtime/string_variable.h"

#include <gtest/gtest.h>

#include "runtime/temp_buffer.h"

namespace {

TEST(StringVariableTest, AssignCopiesEvenFromItsOwnTextAndNullFrees) {
    char* slot = nullptr;
    EXPECT_EQ(StringAssign(&slot, "$GPRMC,123519"), 14);
    StringAssign(&slot, slot + 7);
    EXPECT_STREQ(slot, "123519");
    EXPECT_EQ(StringAssign(&slot, nullptr), 1);
    EXPECT_EQ(slot, nullptr);
    StringVariable original("first");
    StringCopyNew(&slot, original.text());
    EXPECT_NE(slot, original.text());
    EXPECT_STREQ(slot, "first");
    StringFree(slot);
}

TEST(StringVariableTest, AssignFromTempTakesTheTextAndPops) {
    const int64_t saved = TempPosition();
    TempAppend("48.117300");
    StringVariable kept;
    StringAssignFromTemp(kept.slot(), saved);
    EXPECT_STREQ(kept.text(), "48.117300");
    EXPECT_EQ(TempPosition(), saved);
    StringAssignFromTemp(kept.slot(), saved);  // nothing built: the empty text, not null
    EXPECT_FALSE(kept.isNull());
    EXPECT_STREQ(kept.text(), "");
}

}  // namespace
