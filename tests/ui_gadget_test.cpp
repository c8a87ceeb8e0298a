// The gadget framework: platform strings, the registry and the record protocol, the free
// functions and event binding.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/ui_gadget_fixture.h"
#include "ui/gadget_list.h"
#include "ui/platform_string.h"

namespace {

using GadgetFrameworkTest = GadgetTest;

TEST(PlatformStringTest, Latin1AndUtf8ConvertBothWaysAndCaseStaysInLatin1) {
    StringSystemInit();
    EXPECT_EQ(TextToPlatformString("\xE9\xFF"), "\xC3\xA9\xC3\xBF");
    // Back: one byte per UTF-16 unit, '?' for what Latin-1 lacks and for broken sequences.
    const std::pair<const char*, const char*> cases[] = {
        {"\xC3\xA9t\xE2\x82\xAC", "\xE9t?"},  // é is Latin-1, € is not
        {"\xF0\x9F\x98\x80", "??"},           // a surrogate pair
        {"a\xFF\xE2\x82", "a???"},            // a byte UTF-8 never uses; cut short
        {"\xC0\xAF\xED\xA0\x80", "?????"},    // overlong; a lone surrogate
    };
    for (const auto& [utf8, latin1] : cases) {
        TempScope scope;
        const PlatformString input = utf8;
        EXPECT_STREQ(PlatformStringToTemp(&input, scope.start()), latin1) << utf8;
        EXPECT_EQ(TempPosition(), scope.start() + static_cast<int64_t>(strlen(latin1)));
    }
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += static_cast<char>(c);
    EXPECT_EQ(PlatformStringToLatin1(TextToPlatformString(all.c_str())), all);
    StringSystemEnd();

    EXPECT_EQ(PlatformStringLength("\xC3\xA9\xF0\x9F\x98\x80"), 3);
    EXPECT_EQ(PlatformStringUpperCase("az \xC3\xA0\xC3\x9F\xC3\xB7\xC3\xBF"),
              "AZ \xC3\x80\xC3\x9F\xC3\xB7\xC3\xBF");  // ß, ÷ and ÿ stay
    EXPECT_EQ(PlatformStringLowerCase("AZ \xC3\x80\xC3\x97\xE2\x82\xAC"),
              "az \xC3\xA0\xC3\x97\xE2\x82\xAC");  // × and € stay
}

TEST_F(GadgetFrameworkTest, CreationRegistersTheRecordUnderItsNumber) {
    const int64_t view = CreateButtonGadget(3, 10, 20, 80, 25, "Start");
    ASSERT_NE(GadgetRecord(3), nullptr);
    EXPECT_EQ(static_cast<int64_t>(reinterpret_cast<intptr_t>(View(3))), view);
    EXPECT_EQ(View(3)->functions, GadgetRecord(3)->functions);
    // -1: the record's identity is the number.
    const int64_t any = CreateTextGadget(-1, 0, 0, 50, 20, "Lat", kTextBorder);
    ASSERT_NE(GadgetRecord(any), nullptr);
    EXPECT_EQ(GadgetRecord(any)->functions->GadgetID, any);
    EXPECT_EQ(CreateTextGadget(-2, 0, 0, 50, 20, "bad", 0), 0);  // no such number
    EXPECT_EQ(window->views.size(), 2u);
}

TEST_F(GadgetFrameworkTest, RecreatingANumberRemovesTheFirstGadget) {
    CreateButtonGadget(3, 0, 0, 80, 25, "first");
    CreateStringGadget(3, 0, 40, 80, 20, "second");
    ASSERT_EQ(window->views.size(), 1u);
    EXPECT_EQ(View(3), window->views.front().get());
    EXPECT_EQ(GadgetRecord(3)->type, kGadgetString);
    EXPECT_EQ(Text(3), "second");
}

TEST_F(GadgetFrameworkTest, RemovingAndClosingReleaseEachRecordOnce) {
    // A second release would be a double delete (ASan) or would free the newer gadget below.
    CreateTextGadget(1, 0, 0, 50, 20, "a", 0);
    CreateTextGadget(2, 0, 20, 50, 20, "b", 0);
    const int64_t any = CreateButtonGadget(-1, 0, 40, 50, 25, "c");
    RemoveGadget(1);
    RemoveGadget(1);
    EXPECT_EQ(window->views.size(), 2u);
    CloseWindowByNumber(0);
    EXPECT_EQ(GadgetRecord(2), nullptr);
    EXPECT_EQ(GadgetRecord(any), nullptr);
    RemoveGadget(2);
    RemoveGadget(-1);

    OpenMainWindow(0, 0, 0, 260, 160, "Again", 0x44);
    CreateTextGadget(2, 0, 0, 50, 20, "new", 0);
    EXPECT_EQ(Text(2), "new");
    RemoveGadget(-1);
    EXPECT_TRUE(WindowHandle(0)->views.empty());
}

TEST_F(GadgetFrameworkTest, ALateViewEndLeavesTheNumbersNewGadgetAlone) {
    // The platform reports the old view's end only after its number went to a new gadget.
    CreateTextGadget(3, 0, 0, 50, 20, "old", 0);
    KyGadgetFunctions* old = GadgetRecord(3)->functions;
    View(3)->functions = nullptr;  // the removal below reports nothing
    CreateButtonGadget(3, 0, 0, 80, 25, "new");
    KyGadgetFunctions* current = GadgetRecord(3)->functions;
    old->viewDestroyed();
    ASSERT_NE(GadgetRecord(3), nullptr);
    EXPECT_EQ(GadgetRecord(3)->functions, current);
    EXPECT_EQ(Text(3), "new");
}

TEST_F(GadgetFrameworkTest, GadgetsOfAClosedWindowReadAsNothing) {
    CreateStringGadget(5, 0, 0, 80, 20, "10000", kStringNumeric);
    CreateTrackBarGadget(0, 0, 30, 20, 100, 500, 35000);
    SetGadgetState(0, 1200);
    CloseWindowByNumber(0);
    for (int64_t gadget : {0, 5}) {
        EXPECT_EQ(GetGadgetState(gadget), 0);
        EXPECT_EQ(Text(gadget), "");
        EXPECT_EQ(BindGadgetCallback(gadget, RecordEvent), 0);
    }
    // Setters on gone gadgets reach no view.
    SetGadgetText(5, "x");
    SetGadgetState(0, 3);
    DisableGadget(5, 1);
    EXPECT_EQ(ActivateGadget(5), 1);
}

TEST_F(GadgetFrameworkTest, DisableGadgetTogglesAControl) {
    CreateButtonGadget(3, 0, 0, 80, 25, "Start");
    BindGadgetCallback(3, RecordEvent);
    DisableGadget(3, 1);
    EXPECT_FALSE(View(3)->enabled);
    platform.click(View(3));
    EXPECT_TRUE(seen.empty());
    DisableGadget(3, 0);
    platform.click(View(3));
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(GadgetFrameworkTest, ScreenPositionIsOffsetByTheContentArea) {
    CreateStringGadget(5, 10, 20, 80, 22, "", 0);
    KyGadgetFunctions* functions = GadgetRecord(5)->functions;
    // On screen: offset by the content area's place.
    EXPECT_EQ(functions->GadgetX(1), 10 + static_cast<int64_t>(window->content.x));
    EXPECT_EQ(functions->GadgetY(1), 20 + static_cast<int64_t>(window->content.y));
}

TEST_F(GadgetFrameworkTest, ReturnEndsAnEditWithoutFocusLossButFocusingAnotherLosesIt) {
    CreateStringGadget(5, 0, 0, 80, 20, "10000", kStringNumeric);
    CreateStringGadget(6, 0, 30, 80, 20, "", 0);
    EXPECT_EQ(ActivateGadget(5), 1);
    EXPECT_EQ(platform.focusedView, View(5));
    platform.pressReturn(View(5));
    EXPECT_EQ(GadgetEvents(), (Events{{5, FocusGained}}));
    platform.focus(View(6));
    EXPECT_EQ(GadgetEvents(), (Events{{5, FocusLost}, {6, FocusGained}}));
}

TEST_F(GadgetFrameworkTest, BindingFollowsTypeAndGadget) {
    CreateStringGadget(5, 0, 0, 80, 20, "10000", kStringNumeric);
    CreateStringGadget(6, 0, 30, 80, 20, "", 0);
    EXPECT_EQ(BindGadgetCallback(42, RecordEvent), 0);
    EXPECT_EQ(BindGadgetEvent(42, RecordEvent, TextChanged), 0);
    ASSERT_EQ(BindGadgetCallback(5, RecordEvent), 1);

    // Type -1: focus gained, text changed and focus lost of gadget 5, nothing of gadget 6.
    platform.type(View(5), "7");
    platform.focus(View(6));
    platform.type(View(6), "x");
    EXPECT_EQ(seen,
              (std::vector<Seen>{
                  {5, FocusGained, 10000}, {5, TextChanged, 100007}, {5, FocusLost, 100007}}));

    // A single type: only that one.
    seen.clear();
    ASSERT_EQ(BindGadgetEvent(6, RecordEvent, TextChanged), 1);
    platform.focus(View(5));
    platform.focus(View(6));
    platform.type(View(6), "y");
    EXPECT_EQ(seen, (std::vector<Seen>{
                        {5, FocusGained, 100007}, {5, FocusLost, 100007}, {6, TextChanged, 0}}));
}

TEST_F(GadgetFrameworkTest, ProgramChangesPostNothing) {
    CreateStringGadget(5, 0, 0, 80, 20, "10000", kStringNumeric);
    CreateIPAddressGadget(4, 0, 30, 120, 20);
    CreateTextGadget(1, 0, 60, 80, 20, "", 0);
    CreateButtonGadget(3, 0, 90, 80, 25, "Start");
    CreateTrackBarGadget(0, 200, 0, 20, 150, 500, 35000);
    for (int64_t gadget : {0, 1, 3, 4, 5})
        BindGadgetCallback(gadget, RecordEvent);
    TakeAll();

    SetGadgetState(5, 456);
    SetGadgetText(4, "127.0.0.1");
    SetGadgetState(4, 16777343);
    SetGadgetText(1, "48.1173");
    SetGadgetText(3, "Stop");
    SetGadgetState(3, 0);
    SetGadgetState(0, 1000);
    EXPECT_EQ(QueuedEventCount(), 0);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(Text(5), "456");
}

TEST_F(GadgetFrameworkTest, BindingHoldsForTheGadgetInItsOwnWindow) {
    OpenMainWindow(7, 300, 0, 200, 100, "Other", 0x44);
    CreateButtonGadget(3, 0, 0, 80, 25, "Go");
    BindGadgetCallback(3, RecordEvent);
    PostEvent(GadgetEvent, 3, 0, Action);  // gadget 3 of window 0
    EXPECT_TRUE(seen.empty());
    platform.click(View(3));
    EXPECT_EQ(seen, (std::vector<Seen>{{3, Action, 1}}));
}

}  // namespace
