// Gadgets against the in-memory platform: records, binding, the five kinds, and worker calls.
#include <thread>
#include <tuple>

#include "tests/support/ui_fixture.h"
#include "ui/gadget_kinds.h"
#include "ui/gadget_list.h"

namespace {

Events seen;  // (gadget, type, the gadget's state) as bound procedures saw them
int64_t RecordEvent() {
    seen.push_back({EventGadget(), EventType(), GetGadgetState(EventGadget())});
    return 0;
}

struct GadgetsTest : GadgetTest {
    void SetUp() override { GadgetTest::SetUp(), seen.clear(); }
};

TEST_F(GadgetsTest, NumbersRecordsAndReleases) {
    EXPECT_NE(CreateButtonGadget(3, 10, 20, 80, 25, "first"), 0);
    EXPECT_NE(CreateStringGadget(3, 0, 40, 80, 20, "second"), 0);  // replaces the button
    EXPECT_EQ(GadgetRecord(3)->type, kGadgetString);
    const int64_t any = CreateTextGadget(-1, 0, 0, 50, 20, "Lat", kTextBorder);
    EXPECT_EQ(GadgetRecord(any)->functions->GadgetID, any);
    EXPECT_EQ(CreateTextGadget(-2, 0, 0, 50, 20, "bad", 0), 0);
    // The platform reports an old view's end only after its number went to a new gadget.
    KyGadgetFunctions* old = GadgetRecord(3)->functions;
    View(3)->functions = nullptr;
    CreateButtonGadget(3, 0, 0, 80, 25, "new");
    old->viewDestroyed();
    EXPECT_EQ(Text(3), "new");
    RemoveGadget(3);
    RemoveGadget(3);  // a second release would free twice (ASan)
    // Every gadget goes with the library, views included; a second start ends the first.
    for (void (*end)() : {GadgetSystemInit, GadgetLibraryEnd}) {
        CreateStringGadget(5, 0, 0, 80, 20, "10000", kStringNumeric);
        CreateTextGadget(6, 0, 30, 80, 20, "Lat", 0);
        end();
        EXPECT_TRUE(GadgetRecord(6) == nullptr && window->views.empty());
    }
    GadgetSystemInit();
    CreateStringGadget(5, 0, 0, 80, 20, "10000", kStringNumeric);
    CloseWindowByNumber(0);
    for (int64_t gadget : {int64_t{3}, int64_t{5}, any}) {
        EXPECT_EQ(GadgetRecord(gadget), nullptr);
        EXPECT_EQ(Text(gadget), "");
        EXPECT_EQ(BindGadgetCallback(gadget, RecordEvent), 0);
    }
}

// A view reports to its functions object from birth, before the object has its gadget.
TEST_F(GadgetsTest, FunctionsBeforeTheirGadgetDoNothing) {
    KyGadgetFunctions plain;
    KyTextGadgetFunctions text;
    KyButtonGadgetFunctions button;
    KyStringGadgetFunctions string(kStringNumeric);
    KyTrackBarGadgetFunctions trackBar;
    KyIPAddressGadgetFunctions address;
    KyGadgetFunctions* const kinds[] = {&plain, &text, &button, &string, &trackBar, &address};
    for (KyGadgetFunctions* kind : kinds) {
        kind->EventHandler(nullptr);
        kind->controlTextDidChange();
        kind->becomeFirstResponder();
        kind->textDidEndEditing(true);
        kind->ActivateGadget();
        kind->HideGadget(1);
        kind->DisableGadget(1);
        kind->ResizeGadget(1, 2, 3, 4);
        kind->SetGadgetState(5);
        kind->SetGadgetText("6");
        kind->SetGadgetAttribute(2, 7);
        const std::vector<int64_t> answers = {kind->GadgetX(0),       kind->GadgetY(0),
                                              kind->GadgetWidth(),    kind->GadgetHeight(),
                                              kind->GetGadgetState(), kind->GetGadgetAttribute(2)};
        EXPECT_EQ(answers, std::vector<int64_t>(6, 0));
        EXPECT_EQ(kind->GetGadgetText(), "");
    }
    EXPECT_EQ(QueuedEventCount(), 0);
}

TEST(GadgetListTest, PushedContainersComeBackInReverse) {
    KyGadgetList list(nullptr);
    PlatformView views[12];
    for (PlatformView& view : views)
        list.push(&view);
    EXPECT_EQ(list.stackIndex(), 12);
    EXPECT_EQ(list.stackSize(), 20);
    for (int i = 11; i >= 0; --i) {
        EXPECT_EQ(list.top(), &views[i]) << i;
        list.pop();
    }
    EXPECT_EQ(list.top(), nullptr);
    list.set(&views[3]);
    list.pop();  // nothing saved: back to the content area
    EXPECT_EQ(list.top(), nullptr);
    EXPECT_EQ(list.stackIndex(), 0);
}

TEST_F(GadgetsTest, BindingFollowsTypeGadgetAndWindow) {
    CreateStringGadget(5, 0, 0, 80, 20, "10000", kStringNumeric);
    CreateStringGadget(6, 0, 30, 80, 20, "", 0);
    ASSERT_EQ(BindGadgetCallback(5, RecordEvent), 1);
    platform.type(View(5), "7");
    platform.pressReturn(View(5));  // Return ends the edit, but the focus stays
    platform.focus(View(6));
    platform.type(View(6), "x");
    ASSERT_EQ(BindGadgetEvent(6, RecordEvent, TextChanged), 1);
    platform.focus(View(5));
    platform.type(View(6), "y");
    const Events expected = {{5, FocusGained, 10000}, {5, TextChanged, 100007},
                             {5, FocusLost, 100007},  {5, FocusGained, 100007},
                             {5, FocusLost, 100007},  {6, TextChanged, 0}};
    EXPECT_EQ(seen, expected);
    seen.clear();  // bound in window 0: the same number in another window does not run it
    OpenMainWindow(7, 300, 0, 200, 100, "Other", 0x44);
    CreateButtonGadget(5, 0, 0, 80, 25, "Go");
    platform.click(View(5));
    EXPECT_TRUE(seen.empty());
}

TEST_F(GadgetsTest, LabelsButtonsAndProgramChangesThatPostNothing) {
    CreateTextGadget(1, 0, 60, 80, 20, "", 0);
    CreateButtonGadget(3, 0, 0, 80, 25, "Start");
    for (int64_t gadget : {1, 3})
        BindGadgetCallback(gadget, RecordEvent);
    for (int press = 0; press < 3; ++press)
        platform.click(View(3));
    // Each procedure ran inside its press and saw the flipped state.
    EXPECT_EQ(seen, (Events{{3, Action, 1}, {3, Action, 0}, {3, Action, 1}}));
    TakeAll();
    SetGadgetText(1, "48.1173");
    SetGadgetState(1, 7);  // a label has no state
    SetGadgetState(3, 0);
    DisableGadget(3, 1);
    platform.click(View(3));  // disabled: no press
    DisableGadget(1, 1);      // a label greys instead
    EXPECT_EQ(QueuedEventCount(), 0);
    EXPECT_EQ(GetGadgetState(1), 0);
    EXPECT_EQ(GetGadgetState(3), 0);
    EXPECT_TRUE(View(1)->greyed && View(1)->enabled);
    ResizeGadget(3, 5, -65535, 90, -65535);  // still 25 high: still rounded
    EXPECT_TRUE(View(3)->rounded && View(3)->frame.width == 90);
    // In the content area (modes 0, 2), on the screen (1: frame at 830, 446, title bar 28 high).
    KyGadgetFunctions* functions = GadgetRecord(3)->functions;
    const std::vector<int64_t> geometry = {functions->GadgetX(0),    functions->GadgetX(1),
                                           functions->GadgetY(2),    functions->GadgetY(1),
                                           functions->GadgetWidth(), functions->GadgetHeight()};
    EXPECT_EQ(geometry, (std::vector<int64_t>{5, 835, 0, 474, 90, 25}));
    HideGadget(3, 1);
    EXPECT_TRUE(View(3)->hidden);
    HideGadget(3, 0);
    EXPECT_FALSE(View(3)->hidden);
    ActivateGadget(3);
    EXPECT_EQ(platform.focusedView, View(3));
    ResizeGadget(3, -65535, -65535, -65535, 30);
    ResizeGadget(3, -65535, -65535, -65535, 25);
    EXPECT_FALSE(View(3)->rounded);  // square for good
}

// Only a rounded (25 high) button can be the default button.
TEST_F(GadgetsTest, ButtonFlagsSetTheirViews) {
    using A = PlatformTextAlignment;
    const std::tuple<int32_t, int32_t, bool, A, bool, bool> cases[] = {
        {0, 25, false, A::Natural, false, true},
        {kButtonToggle, 25, true, A::Natural, false, true},
        {kButtonLeft | kButtonDefault, 25, false, A::Left, true, true},
        {kButtonRight | kButtonDefault, 30, false, A::Right, false, false}};
    for (const auto& [flags, height, toggles, alignment, isDefault, rounded] : cases) {
        CreateButtonGadget(4, 0, 0, 80, height, "Go", flags);
        const PlatformView* view = View(4);
        EXPECT_EQ(std::tuple(view->toggles, view->alignment, view->isDefault, view->rounded),
                  std::tuple(toggles, alignment, isDefault, rounded))
            << flags;
    }
}

TEST_F(GadgetsTest, StringFieldsCheckEveryKeystroke) {
    // Upper case wins in the check, lower case in SetGadgetText.
    const std::tuple<int32_t, const char*, const char*, const char*, const char*> cases[] = {
        {kStringNumeric, "1a-.2", "12", "abc", "abc"},
        {kStringUpperCase, "\xC3\xA9t", "\xC3\x89T", "xY\xE9", "XY\xC9"},
        {kStringLowerCase, "AbC", "abc", "XyZ", "xyz"},
        {kStringUpperCase | kStringLowerCase, "ab", "AB", "AbC", "abc"},
        {kStringBorderless, "x", "x", "y", "y"},
        {kStringReadOnly, "x", "", "fixed", "fixed"}};
    for (const int32_t flags : {kStringNumeric, kStringUpperCase, kStringLowerCase}) {
        CreateStringGadget(6, 0, 0, 80, 20, "", flags);
        SetGadgetAttribute(6, 1, 2);  // a maximum length holds under every rule
        platform.type(View(6), flags == kStringNumeric ? "123" : "abc");
        EXPECT_EQ(View(6)->text.size(), 2u) << flags;
    }
    for (const auto& [flags, typed, shown, set, read] : cases) {
        CreateStringGadget(6, 0, 0, 80, 20, "", flags);
        platform.type(View(6), typed);
        EXPECT_EQ(View(6)->text, shown) << flags;
        EXPECT_EQ(View(6)->bordered, flags != kStringBorderless) << flags;
        SetGadgetText(6, set);
        EXPECT_EQ(Text(6), read) << flags;
    }
    TakeAll();
    // Characters count as the field counts them: é is one, a character beyond 16 bits two.
    CreateStringGadget(8, 0, 60, 80, 20, "", kStringPassword);
    EXPECT_TRUE(View(8)->kind == PlatformViewKind::SecureField &&
                View(6)->kind == PlatformViewKind::TextField);
    SetGadgetAttribute(8, 1, 3);
    EXPECT_EQ(GetGadgetAttribute(8, 1), 3);
    platform.editText(View(8), "a\xC3\xA9x");
    platform.editText(View(8), "ab\xF0\x9F\x98\x80");
    EXPECT_EQ(View(8)->text, "a\xC3\xA9x");
    GadgetRecord(8)->functions->EventHandler(View(8));  // Return's action means nothing
    platform.focus(View(6));                            // a password field reports changes only
    EXPECT_EQ(TakeAll(), (Events{{3, 8, TextChanged}, {3, 6, FocusGained}}));
}

TEST_F(GadgetsTest, TrackBarAndIPAddress) {
    CreateTrackBarGadget(0, 200, 0, 20, 150, 500, 35000, kTrackBarTicks);
    CreateTrackBarGadget(1, 230, 0, 20, 150, 500, 35000, 0);
    EXPECT_EQ(std::to_string(View(0)->tickMarks) + " " + std::to_string(View(1)->tickMarks),
              "34501 0");
    BindGadgetCallback(0, RecordEvent);
    platform.moveSlider(View(0), 12000);
    EXPECT_EQ(seen, (Events{{0, Action, 12000}}));
    SetGadgetAttribute(0, 2, 10000);  // a lower maximum moves the state
    SetGadgetAttribute(0, 1, 1000);
    EXPECT_EQ(GetGadgetState(0), 10000);
    EXPECT_EQ(GetGadgetAttribute(0, 1), 1000);
    EXPECT_EQ(View(0)->tickMarks, 9001);  // one per value
    CreateIPAddressGadget(4, 0, 0, 120, 20);
    // clang-format off
    const std::tuple<const char*, const char*, int64_t> cases[] = {
        {"127.0.0.1", "127.0.0.1", 16777343}, {"255.255.255.255", "255.255.255.255", -1},
        {"1..2.3", "1..2.3", 0x03020001}, {"1.2.3", "0.0.0.0", 0}, {"300.1.1.1", "0.0.0.0", 0},
        {"+1.2.3.4", "0.0.0.0", 0}, {nullptr, "0.0.0.0", 0}};
    // Texts only the window system can put there: parts read with blanks, sign and saturation.
    const std::pair<const char*, int64_t> parts[] = {
        {" 1.\t2.+3.4x", 0x04030201}, {"1.2.3.x", 0x030201}, {"256.0.0.0", 256}, {"1.2.3", 0},
        {"1.2.3.-1", -16580095}, {"-1.0.0.0", -1}, {"0.0.0.99999999999", -16777216},
        {"0.0.0.-99999999999", 0}};
    // clang-format on
    for (const auto& [set, shown, state] : cases) {
        SetGadgetText(4, set);
        EXPECT_EQ(Text(4), shown) << shown;
        EXPECT_EQ(GetGadgetState(4), state) << shown;
    }
    for (const auto& [text, state] : parts) {
        View(4)->text = text;
        EXPECT_EQ(GetGadgetState(4), state) << text;
    }
}

TEST_F(GadgetsTest, IPAddressEditsMustStayFullAddresses) {
    CreateIPAddressGadget(4, 0, 0, 120, 20);
    platform.type(View(4), "1");  // an empty field cannot be typed into
    SetGadgetText(4, "127.0.0.1");
    platform.editText(View(4), "1270.0.1");  // the first dot deleted
    platform.editText(View(4), "127.0.0.");  // still four parts
    platform.type(View(4), "999");
    EXPECT_EQ(View(4)->text, "127.0.0.99");
    EXPECT_EQ(platform.beeps, 3);
    platform.pressReturn(View(4));  // unlike a string field: reported as a focus loss
    EXPECT_EQ(TakeAll(), (Events{{3, 4, FocusGained}, {3, 4, TextChanged}, {3, 4, FocusLost}}));
}

TEST_F(GadgetsTest, WorkerSetsAreHandedOverCoalescedHeldAndReadFromTheSnapshot) {
    platform.holdDelayedTasks = true;
    CreateTextGadget(1, 0, 0, 100, 20, "", 0);
    CreateTextGadget(2, 0, 20, 100, 20, "", 0);
    CreateTrackBarGadget(0, 200, 0, 20, 150, 500, 35000);
    CreateIPAddressGadget(4, 0, 40, 120, 20);
    platform.moveSlider(View(0), 12000);
    Drain();
    TakeAll();
    std::string text;
    int64_t state = 0;
    std::thread([&] {
        SetGadgetText(1, "48.1");
        SetGadgetText(1, "48.1173");
        SetGadgetText(2, "-11.5");
        SetGadgetText(4, "1.2.3.4");  // an address field takes a text as its state
        SetGadgetState(0, 1);         // GUI thread only: nothing
        text = Text(1);               // its own text at once
        state = GetGadgetState(0);
    }).join();
    EXPECT_EQ(text, "48.1173");
    EXPECT_EQ(View(1)->text, "");  // the widget waits for the GUI thread
    EXPECT_EQ(state, 12000);
    // A mutation on the GUI thread refreshes the snapshot; the waiting text must survive it.
    SetGadgetState(1, 0);
    std::thread([&] { text = Text(1); }).join();
    EXPECT_EQ(text, "48.1173");
    EXPECT_EQ(Drain(), 1);  // one apply task for all three
    const auto shown = [] { return View(1)->text + " | " + View(2)->text; };
    EXPECT_EQ(shown(), "48.1173 | -11.5");
    std::thread([&] { state = GetGadgetState(4); }).join();
    EXPECT_EQ(state, 0x04030201);
    // While shown texts are held the rest waits; the program's own wins, a gone gadget gets none.
    ASSERT_EQ(platform.delays.size(), 1u);
    EXPECT_GT(platform.delays[0], 0);
    bool delayedElsewhere = true;  // only the GUI thread may start a delay
    std::thread([&] { delayedElsewhere = RunOnGuiThreadAfter(0, [] {}); }).join();
    EXPECT_FALSE(delayedElsewhere);
    std::thread([] { SetGadgetText(1, "from the worker"), SetGadgetText(2, "late"); }).join();
    EXPECT_EQ(Drain(), 0);
    SetGadgetText(1, "from the program");
    RemoveGadget(2);
    CreateTextGadget(2, 0, 20, 100, 20, "fresh", 0);
    EXPECT_EQ(platform.runDelayedTasks(), 1u);
    EXPECT_EQ(shown(), "from the program | fresh");
    EXPECT_EQ(platform.delays.size(), 1u);  // nothing left to show: no new hold
    // Texts set together come in one task, shown at once; of those held next, the newest show.
    std::thread([] { SetGadgetTexts(std::vector<GadgetText>{{1, "47.6"}, {2, "-122.3"}}); }).join();
    EXPECT_EQ(Drain(), 1);
    EXPECT_EQ(shown(), "47.6 | -122.3");
    std::thread([] {
        SetGadgetTexts(std::vector<GadgetText>{{1, "47.7"}, {2, "-122.4"}});
        SetGadgetText(1, "47.8");
    }).join();
    EXPECT_EQ(Drain(), 0);
    EXPECT_EQ(shown(), "47.6 | -122.3");
    EXPECT_EQ(platform.runDelayedTasks(), 1u);
    EXPECT_EQ(shown(), "47.8 | -122.4");
    EXPECT_EQ(platform.runDelayedTasks(), 1u);  // held in turn, then nothing more
    EXPECT_EQ(platform.delays.size(), 3u);
    std::thread([] { SetGadgetText(1, "47.9"); }).join();
    EXPECT_EQ(Drain(), 1);
    EXPECT_EQ(shown(), "47.9 | -122.4");
    SetGadgetTexts(std::vector<GadgetText>{{1, "1"}, {2, "2"}});
    EXPECT_EQ(shown(), "1 | 2");
    // A hold that ends with the layers ends with them: the next start shows a text at once.
    EndLayers(LayerEnd::Everything);
    StartLayers();
    ASSERT_NE(OpenMainWindow(0, 0, 0, 260, 160, "Test", 0x44), 0);
    CreateTextGadget(1, 0, 0, 100, 20, "", 0);
    Drain();
    std::thread([] { SetGadgetText(1, "48.0"); }).join();
    EXPECT_EQ(Drain(), 1);
    EXPECT_EQ(View(1)->text, "48.0");
}

}  // namespace
