// Gadgets against the in-memory platform: the record protocol, binding, the five kinds, and
// calls from a worker thread (texts handed to the GUI thread, getters read from the snapshot).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ui_fixture.h"

namespace {

using enum PlatformTextAlignment;

// What bound procedures saw: (gadget, type, state of the gadget at that moment).
std::vector<Taken> seen;
int64_t RecordEvent() {
    seen.push_back({EventGadget(), EventType(), GetGadgetState(EventGadget())});
    return 0;
}

// Runs work on a thread of its own and waits for it; the GUI thread handles nothing meanwhile.
template <typename Work>
void OnWorker(Work work) {
    std::thread(work).join();
}

class GadgetsTest : public GadgetTest {
  protected:
    void SetUp() override {
        GadgetTest::SetUp();
        seen.clear();
    }
    // Handles every pending platform event; returns how many there were.
    int64_t Drain() {
        const int64_t before = platform.handledEvents;
        while (platform.handleOneEvent(0)) {
        }
        return platform.handledEvents - before;
    }
};

TEST_F(GadgetsTest, NumbersRecordsAndReleases) {
    EXPECT_NE(CreateButtonGadget(3, 10, 20, 80, 25, "first"), 0);
    EXPECT_NE(CreateStringGadget(3, 0, 40, 80, 20, "second"), 0);  // replaces the button
    EXPECT_EQ(GadgetRecord(3)->type, kGadgetString);
    const int64_t any = CreateTextGadget(-1, 0, 0, 50, 20, "Lat", kTextBorder);
    EXPECT_EQ(GadgetRecord(any)->functions->GadgetID, any);
    EXPECT_EQ(CreateTextGadget(-2, 0, 0, 50, 20, "bad", 0), 0);
    EXPECT_EQ(window->views.size(), 2u);
    EXPECT_EQ(GadgetRecord(3)->functions->GadgetX(1), 0 + int64_t(window->content.x));
    EXPECT_EQ(GadgetRecord(3)->functions->GadgetY(1), 40 + int64_t(window->content.y));

    // The platform reports an old view's end only after its number went to a new gadget.
    KyGadgetFunctions* old = GadgetRecord(3)->functions;
    View(3)->functions = nullptr;
    CreateButtonGadget(3, 0, 0, 80, 25, "new");
    old->viewDestroyed();
    EXPECT_EQ(Text(3), "new");
    RemoveGadget(3);
    RemoveGadget(3);  // a second release would free twice (ASan)
    CreateStringGadget(5, 0, 0, 80, 20, "10000", kStringNumeric);
    CloseWindowByNumber(0);
    for (int64_t gadget : {int64_t{3}, int64_t{5}, any}) {
        EXPECT_EQ(GadgetRecord(gadget), nullptr);
        EXPECT_EQ(Text(gadget), "");
        EXPECT_EQ(BindGadgetCallback(gadget, RecordEvent), 0);
    }
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
    EXPECT_EQ(seen, (std::vector<Taken>{{5, FocusGained, 10000},
                                        {5, TextChanged, 100007},
                                        {5, FocusLost, 100007},
                                        {5, FocusGained, 100007},
                                        {5, FocusLost, 100007},
                                        {6, TextChanged, 0}}));
    // Bound in window 0: the same number in another window does not run it.
    seen.clear();
    OpenMainWindow(7, 300, 0, 200, 100, "Other", 0x44);
    CreateButtonGadget(5, 0, 0, 80, 25, "Go");
    platform.click(View(5));
    EXPECT_TRUE(seen.empty());
}

TEST_F(GadgetsTest, ProgramChangesPostNothingAndLabelsAndButtons) {
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
    SetGadgetText(1, "48.1173");
    SetGadgetText(3, "Stop");
    SetGadgetState(3, 1);
    SetGadgetState(0, 1000);
    EXPECT_EQ(QueuedEventCount(), 0);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(Text(5), "456");
    DisableGadget(3, 1);
    platform.click(View(3));  // disabled: no press
    DisableGadget(1, 1);      // a label greys instead
    EXPECT_EQ(GetGadgetState(3), 1);
    EXPECT_TRUE(View(1)->greyed && View(1)->enabled);
    const std::tuple<int32_t, PlatformTextAlignment, bool> labels[] = {
        {0, Natural, false},
        {kTextRight | kTextCenter, Right, false},
        {kTextBorder | 2, Center, true}};
    for (const auto& [flags, alignment, bordered] : labels) {
        CreateTextGadget(1, 0, 0, 80, 20, "Server:", flags);
        EXPECT_EQ(View(1)->alignment, alignment) << flags;
        EXPECT_EQ(View(1)->bordered, bordered) << flags;
    }
    SetGadgetState(1, 7);  // a label has no state
    EXPECT_EQ(GetGadgetState(1), 0);
    SetGadgetText(1, "-11.5\xB0");
    EXPECT_EQ(View(1)->text, "-11.5\xC2\xB0");

    CreateButtonGadget(3, 0, 0, 80, 25, "Start");  // bound above
    for (int press = 0; press < 3; ++press)
        platform.click(View(3));
    // Each procedure ran inside its press and saw the flipped state.
    EXPECT_EQ(seen, (std::vector<Taken>{{3, Action, 1}, {3, Action, 0}, {3, Action, 1}}));
    ResizeGadget(3, 5, -65535, 90, -65535);  // still 25 high: still rounded
    EXPECT_TRUE(View(3)->rounded);
    EXPECT_EQ(View(3)->frame.width, 90);
    ResizeGadget(3, -65535, -65535, -65535, 30);
    ResizeGadget(3, -65535, -65535, -65535, 25);
    EXPECT_FALSE(View(3)->rounded);  // square for good
}

TEST_F(GadgetsTest, StringFieldsCheckEveryKeystroke) {
    struct Case {
        int32_t flags;
        const char *typed, *shown, *set, *read;
    };
    const Case cases[] = {
        {kStringNumeric, "1a-.2", "12", "abc", "abc"},
        {kStringUpperCase, "\xC3\xA9t", "\xC3\x89T", "xY\xE9", "XY\xC9"},
        {kStringLowerCase, "AbC", "abc", "XyZ", "xyz"},
        // Upper case wins in the check, lower case in SetGadgetText.
        {kStringUpperCase | kStringLowerCase, "ab", "AB", "AbC", "abc"},
        {kStringReadOnly, "x", "", "fixed", "fixed"},
    };
    for (const Case& c : cases) {
        CreateStringGadget(6, 0, 0, 80, 20, "", c.flags);
        platform.type(View(6), c.typed);
        EXPECT_EQ(View(6)->text, c.shown) << c.flags;
        SetGadgetText(6, c.set);
        EXPECT_EQ(Text(6), c.read) << c.flags;
    }
    TakeAll();
    // Characters count as the field counts them: é is one, a character beyond 16 bits two.
    CreateStringGadget(7, 0, 30, 80, 20, "", kStringNumeric);
    SetGadgetAttribute(7, 1, 3);
    EXPECT_EQ(GetGadgetAttribute(7, 1), 3);
    platform.type(View(7), "1234");
    EXPECT_EQ(View(7)->text, "123");
    CreateStringGadget(8, 0, 60, 80, 20, "", kStringPassword);
    SetGadgetAttribute(8, 1, 3);
    platform.editText(View(8), "a\xC3\xA9x");
    platform.editText(View(8), "ab\xF0\x9F\x98\x80");
    EXPECT_EQ(View(8)->text, "a\xC3\xA9x");
    EXPECT_EQ(View(8)->kind, PlatformViewKind::SecureField);
    GadgetRecord(8)->functions->EventHandler(View(8));  // Return's action means nothing
    platform.focus(View(7));                            // a password field reports changes only
    EXPECT_EQ(TakeAll(), (std::vector<Taken>{{GadgetEvent, 7, FocusGained},
                                             {GadgetEvent, 7, TextChanged},
                                             {GadgetEvent, 7, FocusLost},
                                             {GadgetEvent, 8, TextChanged},
                                             {GadgetEvent, 7, FocusGained}}));
}

TEST_F(GadgetsTest, TrackBarAndIPAddress) {
    const std::pair<int32_t, int64_t> ticks[] = {{0, 0}, {2, 0}, {1, 34501}};
    for (const auto& [flags, tickMarks] : ticks) {
        CreateTrackBarGadget(0, 200, 0, 20, 150, 500, 35000, flags);
        EXPECT_EQ(View(0)->tickMarks, tickMarks) << flags;
    }
    BindGadgetCallback(0, RecordEvent);
    platform.moveSlider(View(0), 12000);
    EXPECT_EQ(seen, (std::vector<Taken>{{0, Action, 12000}}));
    SetGadgetAttribute(0, 2, 10000);  // a lower maximum moves the state
    EXPECT_EQ(GetGadgetState(0), 10000);
    SetGadgetAttribute(0, 1, 1000);
    EXPECT_EQ(GetGadgetAttribute(0, 1), 1000);
    EXPECT_EQ(View(0)->tickMarks, 9001);

    CreateIPAddressGadget(4, 0, 0, 120, 20);
    const std::tuple<const char*, const char*, int64_t> cases[] = {
        {"127.0.0.1", "127.0.0.1", 16777343},
        {"255.255.255.255", "255.255.255.255", -1},
        {"1..2.3", "1..2.3", 0x03020001},
        {"1.2.3", "0.0.0.0", 0},
        {"300.1.1.1", "0.0.0.0", 0},
        {"+1.2.3.4", "0.0.0.0", 0},
        {nullptr, "0.0.0.0", 0}};
    for (const auto& [set, shown, state] : cases) {
        SetGadgetText(4, set);
        EXPECT_EQ(Text(4), shown) << shown;
        EXPECT_EQ(GetGadgetState(4), state) << shown;
    }
    SetGadgetState(4, 0x100000001LL);  // only the low 32 bits count
    EXPECT_EQ(Text(4), "1.0.0.0");
    // Texts only the window system can put there: each part is read with blanks, a sign and
    // saturation, then its low byte goes to its place (a part of 256 spills into the next).
    const std::pair<const char*, int64_t> parts[] = {{" 1.\t2.+3.4x", 0x04030201},
                                                     {"1.2.3.x", 0x030201},
                                                     {"256.0.0.0", 256},
                                                     {"1.2.3.-1", -16580095},
                                                     {"-1.0.0.0", -1},
                                                     {"0.0.0.99999999999", -16777216},
                                                     {"1.2.3", 0},
                                                     {"0.0.0.-99999999999", 0}};
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
    GadgetRecord(4)->functions->EventHandler(View(4));  // Return's action means nothing
    platform.pressReturn(View(4));  // unlike a string field: reported as a focus loss
    EXPECT_EQ(TakeAll(), (std::vector<Taken>{{GadgetEvent, 4, FocusGained},
                                             {GadgetEvent, 4, TextChanged},
                                             {GadgetEvent, 4, FocusLost}}));
}

TEST_F(GadgetsTest, WorkerSetsAreHandedOverCoalescedAndReadFromTheSnapshot) {
    CreateTextGadget(1, 0, 0, 100, 20, "", 0);
    CreateTextGadget(2, 0, 20, 100, 20, "", 0);
    CreateTrackBarGadget(0, 200, 0, 20, 150, 500, 35000);
    platform.moveSlider(View(0), 12000);
    Drain();
    TakeAll();
    std::string text;
    int64_t state = 0;
    OnWorker([&] {
        SetGadgetText(1, "48.1");
        SetGadgetText(1, "48.1173");
        SetGadgetText(2, "-11.5");
        SetGadgetState(0, 1);  // GUI thread only: nothing
        text = Text(1);
        state = GetGadgetState(0);
    });
    EXPECT_EQ(text, "48.1173");  // the worker sees its own text at once
    EXPECT_EQ(state, 12000);
    EXPECT_EQ(View(1)->text, "");
    // A mutation on the GUI thread refreshes the snapshot; the waiting text must survive it.
    SetGadgetAttribute(1, 1, 0);
    SetGadgetState(1, 0);
    OnWorker([&] { text = Text(1); });
    EXPECT_EQ(text, "48.1173");
    EXPECT_EQ(Drain(), 2);  // one apply task per label
    EXPECT_EQ(View(1)->text, "48.1173");
    EXPECT_EQ(View(2)->text, "-11.5");
    EXPECT_EQ(QueuedEventCount(), 0);

    // The program's own later text wins; a gadget that went takes no text.
    OnWorker([] { SetGadgetText(1, "from the worker"); });
    SetGadgetText(1, "from the program");
    OnWorker([] { SetGadgetText(2, "late"); });
    RemoveGadget(2);
    CreateTextGadget(2, 0, 20, 100, 20, "fresh", 0);
    Drain();
    EXPECT_EQ(View(1)->text, "from the program");
    EXPECT_EQ(View(2)->text, "fresh");
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i)
            SetGadgetText(1, ("lat " + std::to_string(i)).c_str());
        done = true;
    });
    while (!done)
        platform.handleOneEvent(1);
    worker.join();
    Drain();
    EXPECT_EQ(View(1)->text, "lat 999");
}

}  // namespace
