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

using Events = std::vector<std::pair<int64_t, int64_t>>;

// What the bound procedures saw: (gadget, type, state of the gadget at that moment).
struct Seen {
    int64_t gadget, type, state;
    bool operator==(const Seen&) const = default;
};
std::vector<Seen> seen;

int64_t RecordEvent() {
    seen.push_back({EventGadget(), EventType(), GetGadgetState(EventGadget())});
    return 0;
}

class GadgetFrameworkTest : public GadgetTest {
  protected:
    void SetUp() override {
        GadgetTest::SetUp();
        seen.clear();
    }
};

// --- platform strings ----------------------------------------------------------------------

TEST(PlatformStringTest, Latin1BecomesUtf8) {
    EXPECT_EQ(TextToPlatformString(nullptr), "");
    EXPECT_EQ(TextToPlatformString("Port:"), "Port:");
    EXPECT_EQ(TextToPlatformString("\xE9\xFF"), "\xC3\xA9\xC3\xBF");
}

TEST(PlatformStringTest, Utf8BecomesLatin1OneBytePerUtf16Unit) {
    StringSystemInit();
    struct Case {
        const char* utf8;
        const char* latin1;
    };
    const Case cases[] = {
        {"", ""},
        {"48.1173", "48.1173"},
        {"\xC3\xA9t\xC3\xA9", "\xE9t\xE9"},  // é is Latin-1
        {"\xE2\x82\xAC"
         "5",
         "?5"},                      // € is not
        {"\xF0\x9F\x98\x80", "??"},  // outside the BMP: a surrogate pair
        {"a\xFF"
         "b",
         "a?b"},  // a byte UTF-8 never uses
        {"\xE2\x82"
         "A",
         "??A"},                       // a sequence cut short
        {"\xC0\xAF", "??"},            // overlong
        {"\xED\xA0\x80", "???"},       // a lone surrogate
        {"\xF4\x90\x80\x80", "????"},  // above U+10FFFF
    };
    for (const Case& c : cases) {
        TempScope scope;
        const PlatformString input = c.utf8;
        EXPECT_STREQ(PlatformStringToTemp(&input, scope.start()), c.latin1) << c.utf8;
        EXPECT_EQ(TempPosition(), scope.start() + static_cast<int64_t>(strlen(c.latin1)));
    }
    TempScope scope;
    EXPECT_STREQ(PlatformStringToTemp(nullptr, scope.start()), "");

    // Every Latin-1 character survives the way there and back.
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += static_cast<char>(c);
    EXPECT_EQ(PlatformStringToLatin1(TextToPlatformString(all.c_str())), all);
    StringSystemEnd();
}

TEST(PlatformStringTest, LengthCountsUtf16UnitsAndCaseStaysInLatin1) {
    EXPECT_EQ(PlatformStringLength(""), 0);
    EXPECT_EQ(PlatformStringLength("\xC3\xA9"
                                   "a"),
              2);
    EXPECT_EQ(PlatformStringLength("\xF0\x9F\x98\x80"), 2);
    EXPECT_EQ(PlatformStringUpperCase("abz \xC3\xA0\xC3\xBE\xC3\x9F\xC3\xB7\xC3\xBF"),
              "ABZ \xC3\x80\xC3\x9E\xC3\x9F\xC3\xB7\xC3\xBF");  // ß, ÷ and ÿ stay
    EXPECT_EQ(PlatformStringLowerCase("ABZ \xC3\x80\xC3\x9E\xC3\x97\xE2\x82\xAC"),
              "abz \xC3\xA0\xC3\xBE\xC3\x97\xE2\x82\xAC");  // × and € stay
}

// --- registry and record protocol ---------------------------------------------------------

TEST_F(GadgetFrameworkTest, CreationRegistersTheRecord) {
    const int64_t view = CreateButtonGadget(3, 10, 20, 80, 25, "Start");
    ASSERT_NE(view, 0);
    Ky_GadgetStructure* record = GadgetRecord(3);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(static_cast<int64_t>(reinterpret_cast<intptr_t>(record->view)), view);
    EXPECT_EQ(record->container, record->view);
    EXPECT_EQ(record->type, kGadgetButton);
    EXPECT_EQ(record->userData, 0);
    EXPECT_EQ(record->functions->GadgetID, 3);
    EXPECT_EQ(record->functions->Gadget, record);
    EXPECT_EQ(record->functions->isNSControl, 1);
    EXPECT_EQ(record->view->window, window);
    EXPECT_EQ(record->view->functions, record->functions);

    // -1: the record's identity is the number.
    const int64_t any = CreateTextGadget(-1, 0, 0, 50, 20, "Lat", kTextBorder);
    ASSERT_NE(GadgetRecord(any), nullptr);
    EXPECT_EQ(GadgetRecord(any)->functions->GadgetID, any);
    EXPECT_EQ(GadgetRecord(any)->flags, kTextBorder);
    EXPECT_EQ(Text(any), "Lat");
    RemoveGadget(any);
    EXPECT_EQ(GadgetRecord(any), nullptr);
    EXPECT_EQ(window->views.size(), 1u);

    EXPECT_EQ(CreateTextGadget(-2, 0, 0, 50, 20, "bad", 0), 0);  // no such number
    EXPECT_EQ(window->views.size(), 1u);
}

TEST_F(GadgetFrameworkTest, RecreatingANumberRemovesTheFirstGadget) {
    CreateButtonGadget(3, 0, 0, 80, 25, "first");
    PlatformView* first = View(3);
    CreateStringGadget(3, 0, 40, 80, 20, "second");
    ASSERT_EQ(window->views.size(), 1u);
    EXPECT_NE(window->views.front().get(), first);
    EXPECT_EQ(View(3), window->views.front().get());
    EXPECT_EQ(GadgetRecord(3)->type, kGadgetString);
    EXPECT_EQ(Text(3), "second");
}

TEST_F(GadgetFrameworkTest, RemovingAndClosingReleaseEachRecordOnce) {
    // Removal, a repeated removal and the window's close each take a record at most once;
    // a second release would be a double delete (ASan) or would free the newer gadget below.
    CreateTextGadget(1, 0, 0, 50, 20, "a", 0);
    CreateTextGadget(2, 0, 20, 50, 20, "b", 0);
    const int64_t any = CreateButtonGadget(-1, 0, 40, 50, 25, "c");
    RemoveGadget(1);
    RemoveGadget(1);
    EXPECT_EQ(GadgetRecord(1), nullptr);
    EXPECT_EQ(window->views.size(), 2u);

    CloseWindowByNumber(0);
    EXPECT_EQ(GadgetRecord(2), nullptr);
    EXPECT_EQ(GadgetRecord(any), nullptr);
    RemoveGadget(2);
    RemoveGadget(-1);

    // The numbers are free for new gadgets, which live on their own.
    OpenMainWindow(0, 0, 0, 260, 160, "Again", 0x44);
    CreateTextGadget(2, 0, 0, 50, 20, "new", 0);
    EXPECT_EQ(Text(2), "new");
    RemoveGadget(-1);
    EXPECT_TRUE(WindowHandle(0)->views.empty());
}

TEST_F(GadgetFrameworkTest, ALateViewEndLeavesTheNumbersNewGadgetAlone) {
    // A platform that reports a view's end only after its number was given to a new gadget:
    // the old functions object goes, the new gadget's record stays.
    CreateTextGadget(3, 0, 0, 50, 20, "old", 0);
    KyGadgetFunctions* old = GadgetRecord(3)->functions;
    View(3)->functions = nullptr;  // the removal below reports nothing
    CreateButtonGadget(3, 0, 0, 80, 25, "new");
    KyGadgetFunctions* current = GadgetRecord(3)->functions;
    ASSERT_NE(current, nullptr);
    old->viewDestroyed();
    ASSERT_NE(GadgetRecord(3), nullptr);
    EXPECT_EQ(GadgetRecord(3)->functions, current);
    EXPECT_EQ(Text(3), "new");
    EXPECT_EQ(window->views.size(), 1u);
}

TEST_F(GadgetFrameworkTest, GadgetsOfAClosedWindowReadAsNothing) {
    CreateStringGadget(5, 0, 0, 80, 20, "10000", kStringNumeric);
    CreateTrackBarGadget(0, 0, 30, 20, 100, 500, 35000);
    SetGadgetState(0, 1200);
    EXPECT_EQ(GetGadgetState(0), 1200);
    CloseWindowByNumber(0);
    for (int64_t gadget : {0, 5}) {
        EXPECT_EQ(GadgetRecord(gadget), nullptr);
        EXPECT_EQ(GetGadgetState(gadget), 0);
        EXPECT_EQ(Text(gadget), "");
        EXPECT_EQ(BindGadgetCallback(gadget, RecordEvent), 0);
    }
    // Setters on gone gadgets do nothing and reach no view.
    SetGadgetText(5, "x");
    SetGadgetState(0, 3);
    DisableGadget(5, 1);
    EXPECT_EQ(ActivateGadget(5), 1);
}

TEST_F(GadgetFrameworkTest, GadgetsWithoutACurrentWindowLiveInNoWindow) {
    CloseWindowByNumber(-1);
    ASSERT_EQ(KyGadgetList::currentWindow(), nullptr);
    const int64_t any = CreateTextGadget(-1, 0, 0, 50, 20, "loose", 0);
    ASSERT_NE(GadgetRecord(any), nullptr);
    EXPECT_EQ(View(any)->window, nullptr);
    EXPECT_EQ(Text(any), "loose");
    // Bound for the gadget in any window; the library end removes it.
    EXPECT_EQ(BindGadgetCallback(any, RecordEvent), 1);
    GadgetRecord(any)->functions->SendEvent(Action);
    EXPECT_EQ(seen, (std::vector<Seen>{{any, Action, 0}}));
}

// --- free functions ---------------------------------------------------------------------------

TEST_F(GadgetFrameworkTest, DisableGadgetTogglesAControl) {
    CreateButtonGadget(3, 0, 0, 80, 25, "Start");
    BindGadgetCallback(3, RecordEvent);
    DisableGadget(3, 1);
    EXPECT_FALSE(View(3)->enabled);
    platform.click(View(3));
    EXPECT_TRUE(seen.empty());
    DisableGadget(3, 0);
    EXPECT_TRUE(View(3)->enabled);
    platform.click(View(3));
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(GadgetFrameworkTest, FrameQueriesResizeAndHide) {
    CreateStringGadget(5, 10, 20, 80, 22, "", 0);
    KyGadgetFunctions* functions = GadgetRecord(5)->functions;
    EXPECT_EQ(functions->GadgetX(0), 10);
    EXPECT_EQ(functions->GadgetY(2), 20);
    EXPECT_EQ(functions->GadgetWidth(), 80);
    EXPECT_EQ(functions->GadgetHeight(), 22);
    // On screen: the content area lies below the 28-point title bar of a window at 0, 0.
    EXPECT_EQ(functions->GadgetX(1), 10 + static_cast<int64_t>(window->content.x));
    EXPECT_EQ(functions->GadgetY(1), 20 + static_cast<int64_t>(window->content.y));

    ResizeGadget(5, -65535, 30, -65535, 40);
    const PlatformRect frame = View(5)->frame;
    EXPECT_EQ(frame.x, 10);
    EXPECT_EQ(frame.y, 30);
    EXPECT_EQ(frame.width, 80);
    EXPECT_EQ(frame.height, 40);

    HideGadget(5, 1);
    EXPECT_TRUE(View(5)->hidden);
    HideGadget(5, 0);
    EXPECT_FALSE(View(5)->hidden);
}

TEST_F(GadgetFrameworkTest, ActivateGadgetFocusesTheField) {
    CreateStringGadget(5, 0, 0, 80, 20, "10000", kStringNumeric);
    CreateStringGadget(6, 0, 30, 80, 20, "", 0);
    EXPECT_EQ(ActivateGadget(6), 1);
    EXPECT_EQ(platform.focusedView, View(6));
    EXPECT_EQ(platform.keyWindow(), window);
    ActivateGadget(5);
    EXPECT_EQ(platform.focusedView, View(5));
    EXPECT_EQ(GadgetEvents(), (Events{{6, FocusGained}, {6, FocusLost}, {5, FocusGained}}));
}

// --- events and binding ---------------------------------------------------------------------

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

TEST_F(GadgetFrameworkTest, ReturnEndsAStringEditWithoutFocusLoss) {
    CreateStringGadget(5, 0, 0, 80, 20, "10000", kStringNumeric);
    CreateStringGadget(6, 0, 30, 80, 20, "", 0);
    platform.focus(View(5));
    platform.pressReturn(View(5));
    EXPECT_EQ(GadgetEvents(), (Events{{5, FocusGained}}));
    platform.focus(View(6));
    EXPECT_EQ(GadgetEvents(), (Events{{5, FocusLost}, {6, FocusGained}}));
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

    SetGadgetText(5, "123");
    SetGadgetState(5, 456);
    SetGadgetText(4, "127.0.0.1");
    SetGadgetState(4, 16777343);
    SetGadgetText(1, "48.1173");
    SetGadgetText(3, "Stop");
    SetGadgetState(3, 0);
    SetGadgetState(0, 1000);
    SetGadgetAttribute(0, 1, 600);
    EXPECT_EQ(QueuedEventCount(), 0);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(Text(5), "456");
    EXPECT_EQ(Text(3), "Stop");
}

TEST_F(GadgetFrameworkTest, GadgetEventsCarryTheWindowNumber) {
    OpenMainWindow(7, 300, 0, 200, 100, "Other", 0x44);
    TakeAll();
    CreateButtonGadget(3, 0, 0, 80, 25, "Go");
    platform.click(View(3));
    ASSERT_EQ(NextEvent(), GadgetEvent);
    EXPECT_EQ(EventGadget(), 3);
    // Bound under window 7 only: the same gadget number in window 0 does not run it.
    BindGadgetCallback(3, RecordEvent);
    PostEvent(GadgetEvent, 3, 0, Action);
    EXPECT_TRUE(seen.empty());
    platform.click(View(3));
    EXPECT_EQ(seen, (std::vector<Seen>{{3, Action, 0}}));
}

}  // namespace
