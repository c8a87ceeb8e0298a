#include "runtime/string_variable.h"

#include <gtest/gtest.h>

#include "runtime/temp_buffer.h"

namespace {

TEST(StringVariableTest, AssignCopiesAndNullFrees) {
    char* slot = nullptr;
    EXPECT_EQ(StringAssign(&slot, "settings.cfg"), 13);
    ASSERT_NE(slot, nullptr);
    EXPECT_STREQ(slot, "settings.cfg");

    EXPECT_EQ(StringAssign(&slot, ""), 1);  // the empty text keeps a block
    ASSERT_NE(slot, nullptr);
    EXPECT_STREQ(slot, "");

    EXPECT_EQ(StringAssign(&slot, nullptr), 1);  // null frees and leaves null
    EXPECT_EQ(slot, nullptr);
}

TEST(StringVariableTest, AssignFromItsOwnText) {
    char* slot = nullptr;
    StringAssign(&slot, "$GPRMC,123519");
    StringAssign(&slot, slot + 7);
    EXPECT_STREQ(slot, "123519");
    StringFree(slot);
}

TEST(StringVariableTest, CopyNewLeavesTheOldBlockAlone) {
    StringVariable original("first");
    char* slot = nullptr;
    StringCopyNew(&slot, nullptr);
    EXPECT_EQ(slot, nullptr);
    StringCopyNew(&slot, original.text());
    ASSERT_NE(slot, nullptr);
    EXPECT_NE(slot, original.text());
    EXPECT_STREQ(slot, "first");
    StringFree(slot);
}

TEST(StringVariableTest, AssignFromTempTakesTheTextAndPops) {
    const int64_t saved = TempPosition();
    TempAppend("48.");
    TempAppend("117300");
    StringVariable kept;
    StringAssignFromTemp(kept.slot(), saved);
    EXPECT_STREQ(kept.text(), "48.117300");
    EXPECT_EQ(TempPosition(), saved);

    // Nothing built since the saved position gives the empty text.
    StringAssignFromTemp(kept.slot(), saved);
    EXPECT_FALSE(kept.isNull());
    EXPECT_STREQ(kept.text(), "");
}

}  // namespace
