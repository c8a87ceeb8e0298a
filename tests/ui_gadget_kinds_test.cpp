// The five gadget kinds: creation flags, texts and states, keystroke validation and the events
// each kind posts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ui_gadget_fixture.h"

namespace {

using Events = std::vector<std::pair<int64_t, int64_t>>;

std::vector<int64_t> statesSeen;

int64_t RecordState() {
    statesSeen.push_back(GetGadgetState(EventGadget()));
    return 0;
}

class GadgetKindTest : public GadgetTest {
  protected:
    void SetUp() override {
        GadgetTest::SetUp();
        statesSeen.clear();
    }
};

// --- labels --------------------------------------------------------------------------------

TEST_F(GadgetKindTest, LabelFlags) {
    struct Case {
        int32_t flags;
        PlatformTextAlignment alignment;
        bool bordered;
    };
    const Case cases[] = {
        {0, PlatformTextAlignment::Natural, false},
        {kTextRight, PlatformTextAlignment::Right, false},
        {kTextCenter, PlatformTextAlignment::Center, false},
        {kTextRight | kTextCenter, PlatformTextAlignment::Right, false},
        {kTextBorder | kTextCenter, PlatformTextAlignment::Center, true},
    };
    for (const Case& c : cases) {
        CreateTextGadget(1, 0, 0, 80, 20, "Server:", c.flags);
        EXPECT_EQ(View(1)->kind, PlatformViewKind::Label);
        EXPECT_EQ(View(1)->alignment, c.alignment) << c.flags;
        EXPECT_EQ(View(1)->bordered, c.bordered) << c.flags;
        EXPECT_FALSE(View(1)->editable);
        EXPECT_EQ(Text(1), "Server:");
        EXPECT_EQ(GadgetRecord(1)->type, kGadgetText);
    }
    CreateTextGadget0(2, 0, 0, 80, 20, nullptr);
    EXPECT_EQ(Text(2), "");
    EXPECT_EQ(GadgetRecord(2)->flags, 0);
}

TEST_F(GadgetKindTest, LabelHasNoStateAndGreysInsteadOfDisabling) {
    CreateTextGadget(1, 0, 0, 80, 20, "48", 0);
    SetGadgetState(1, 7);
    EXPECT_EQ(GetGadgetState(1), 0);
    EXPECT_EQ(Text(1), "48");
    SetGadgetText(1, "-11.5\xB0");  // Latin-1 degree sign
    EXPECT_EQ(View(1)->text, "-11.5\xC2\xB0");
    EXPECT_EQ(Text(1), "-11.5\xB0");
    DisableGadget(1, 1);
    EXPECT_TRUE(View(1)->greyed);
    EXPECT_TRUE(View(1)->enabled);
    DisableGadget(1, 0);
    EXPECT_FALSE(View(1)->greyed);
}

// --- buttons -------------------------------------------------------------------------------

TEST_F(GadgetKindTest, PlainButtonFlipsItsStateOnEveryPress) {
    CreateButtonGadget(3, 0, 0, 80, 25, "Start");
    BindGadgetCallback(3, RecordState);
    EXPECT_EQ(GetGadgetState(3), 0);
    for (int64_t expected : {1, 0, 1}) {
        platform.click(View(3));
        EXPECT_EQ(GetGadgetState(3), expected);
        EXPECT_EQ(GadgetEvents(), (Events{{3, Action}}));
    }
    // The procedure ran inside each press and already saw the flipped state.
    EXPECT_EQ(statesSeen, (std::vector<int64_t>{1, 0, 1}));
    SetGadgetState(3, 0);
    EXPECT_EQ(GetGadgetState(3), 0);
    SetGadgetText(3, "Stop");
    EXPECT_EQ(Text(3), "Stop");
}

TEST_F(GadgetKindTest, ButtonFlags) {
    struct Case {
        int32_t flags;
        int32_t height;
        PlatformTextAlignment alignment;
        bool toggles, rounded, isDefault;
    };
    const Case cases[] = {
        {0, 25, PlatformTextAlignment::Natural, false, true, false},
        {0, 30, PlatformTextAlignment::Natural, false, false, false},
        {kButtonRight, 25, PlatformTextAlignment::Right, false, true, false},
        {kButtonLeft | kButtonRight, 25, PlatformTextAlignment::Left, false, true, false},
        {kButtonToggle, 25, PlatformTextAlignment::Natural, true, true, false},
        {kButtonDefault, 25, PlatformTextAlignment::Natural, false, true, true},
        {kButtonDefault, 24, PlatformTextAlignment::Natural, false, false, false},
    };
    for (const Case& c : cases) {
        CreateButtonGadget(3, 0, 0, 80, c.height, "OK", c.flags);
        PlatformView* view = View(3);
        EXPECT_EQ(view->kind, PlatformViewKind::Button);
        EXPECT_EQ(view->alignment, c.alignment) << c.flags;
        EXPECT_EQ(view->toggles, c.toggles) << c.flags;
        EXPECT_EQ(view->rounded, c.rounded) << c.flags << " " << c.height;
        EXPECT_EQ(view->isDefault, c.isDefault) << c.flags << " " << c.height;
        EXPECT_TRUE(view->bordered);
        EXPECT_EQ(view->text, "OK");
    }
}

TEST_F(GadgetKindTest, RoundedButtonResizedToAnotherHeightStaysSquare) {
    CreateButtonGadget(3, 0, 0, 80, 25, "Start");
    ResizeGadget(3, 5, -65535, 90, -65535);  // height kept: still rounded
    EXPECT_TRUE(View(3)->rounded);
    ResizeGadget(3, -65535, -65535, -65535, 30);
    EXPECT_FALSE(View(3)->rounded);
    ResizeGadget(3, -65535, -65535, -65535, 25);
    EXPECT_FALSE(View(3)->rounded);
    EXPECT_EQ(View(3)->frame.height, 25);
    EXPECT_EQ(View(3)->frame.x, 5);
    EXPECT_EQ(View(3)->frame.width, 90);
}

// --- string fields -------------------------------------------------------------------------

TEST_F(GadgetKindTest, DigitsOnlyFieldRefusesOtherKeystrokes) {
    CreateStringGadget(5, 0, 0, 80, 20, "10000", kStringNumeric);
    PlatformView* port = View(5);
    platform.focus(port);
    TakeAll();
    for (const char* refused : {"a", "-", ".", " ", "+"}) {
        platform.type(port, refused);
        EXPECT_EQ(port->text, "10000") << refused;
        EXPECT_EQ(QueuedEventCount(), 0) << refused;
    }
    platform.type(port, "7");
    EXPECT_EQ(port->text, "100007");
    EXPECT_EQ(GadgetEvents(), (Events{{5, TextChanged}}));
    EXPECT_EQ(GetGadgetState(5), 100007);
    // Deleting down to nothing is fine; the program may set anything.
    for (int i = 0; i < 6; ++i)
        platform.deleteCharacter(port, 0);
    EXPECT_EQ(port->text, "");
    SetGadgetText(5, "abc");
    EXPECT_EQ(Text(5), "abc");
}

TEST_F(GadgetKindTest, CaseFieldsReplaceTypedText) {
    struct Case {
        int32_t flags;
        const char* typed;
        const char* shown;
        const char* set;
        const char* shownAfterSet;
    };
    const Case cases[] = {
        {kStringUpperCase, "abc", "ABC", "xYz", "XYZ"},
        {kStringLowerCase, "AbC", "abc", "XyZ", "xyz"},
        // Upper case wins in the formatter, lower case in SetGadgetText.
        {kStringUpperCase | kStringLowerCase, "ab", "AB", "AbC", "abc"},
        {kStringUpperCase, "\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", "\xE9t\xE9", "\xC9T\xC9"},
        {kStringNumeric | kStringUpperCase, "1a2", "12", "ab", "AB"},
        {0, "MiXed", "MiXed", "MiXed", "MiXed"},
    };
    for (const Case& c : cases) {
        CreateStringGadget(6, 0, 0, 80, 20, "", c.flags);
        platform.type(View(6), c.typed);
        EXPECT_EQ(View(6)->text, c.shown) << c.flags;
        SetGadgetText(6, c.set);
        EXPECT_EQ(Text(6), c.shownAfterSet) << c.flags;
    }
}

TEST_F(GadgetKindTest, MaximumLengthAttribute) {
    CreateStringGadget(6, 0, 0, 80, 20, "", 0);
    EXPECT_EQ(GetGadgetAttribute(6, 1), 2147483647);
    EXPECT_EQ(GetGadgetAttribute(6, 2), 0);
    SetGadgetAttribute(6, 1, 3);
    EXPECT_EQ(GetGadgetAttribute(6, 1), 3);
    platform.type(View(6), "abcd");
    EXPECT_EQ(View(6)->text, "abc");
    // Characters count as the field counts them: é is one, a character beyond 16 bits two.
    platform.deleteCharacter(View(6), 2);
    platform.type(View(6), "\xC3\xA9");
    EXPECT_EQ(View(6)->text, "ab\xC3\xA9");
    platform.editText(View(6), "a\xF0\x9F\x98\x80");
    EXPECT_EQ(View(6)->text, "a\xF0\x9F\x98\x80");
    platform.editText(View(6), "ab\xF0\x9F\x98\x80");
    EXPECT_EQ(View(6)->text, "a\xF0\x9F\x98\x80");

    // Every formatter keeps the limit; the program's texts are not limited.
    CreateStringGadget(5, 0, 30, 80, 20, "", kStringNumeric);
    SetGadgetAttribute(5, 1, 5);
    platform.type(View(5), "123456");
    EXPECT_EQ(View(5)->text, "12345");
    CreateStringGadget(7, 0, 60, 80, 20, "", kStringUpperCase);
    SetGadgetAttribute(7, 1, 2);
    platform.type(View(7), "xyz");
    EXPECT_EQ(View(7)->text, "XY");
    SetGadgetText(7, "longer");
    EXPECT_EQ(Text(7), "LONGER");
}

TEST_F(GadgetKindTest, StringFieldFlags) {
    CreateStringGadget(6, 0, 0, 80, 20, "fixed", kStringReadOnly | kStringBorderless);
    EXPECT_FALSE(View(6)->editable);
    EXPECT_FALSE(View(6)->bordered);
    platform.type(View(6), "x");
    EXPECT_EQ(View(6)->text, "fixed");
    EXPECT_EQ(GadgetRecord(6)->type, kGadgetString);

    CreateStringGadget(7, 0, 30, 80, 20, "", 0);
    EXPECT_TRUE(View(7)->editable);
    EXPECT_TRUE(View(7)->bordered);
    EXPECT_EQ(View(7)->kind, PlatformViewKind::TextField);
}

TEST_F(GadgetKindTest, PasswordFieldReportsOnlyChanges) {
    CreateStringGadget(8, 0, 0, 80, 20, "", kStringPassword);
    CreateStringGadget(9, 0, 30, 80, 20, "", 0);
    EXPECT_EQ(View(8)->kind, PlatformViewKind::SecureField);
    platform.type(View(8), "pw");
    platform.focus(View(9));
    // The second change repeats the newest queued event, so the queue holds it once.
    EXPECT_EQ(GadgetEvents(), (Events{{8, TextChanged}, {9, FocusGained}}));
    EXPECT_EQ(Text(8), "pw");
}

TEST_F(GadgetKindTest, ReturnInAStringFieldPostsNoAction) {
    CreateStringGadget(5, 0, 0, 80, 20, "1", kStringNumeric);
    GadgetRecord(5)->functions->EventHandler(View(5));
    EXPECT_EQ(QueuedEventCount(), 0);
}

// --- track bars ----------------------------------------------------------------------------

TEST_F(GadgetKindTest, TrackBarRangeTicksAndIgnoredFlags) {
    struct Case {
        int32_t flags;
        int64_t ticks;
        bool snap;
    };
    // Flag 2 changes nothing: the same as no flags.
    const Case cases[] = {{0, 0, false}, {2, 0, false}, {1, 34501, true}, {3, 34501, true}};
    for (const Case& c : cases) {
        CreateTrackBarGadget(0, 200, 0, 20, 150, 500, 35000, c.flags);
        PlatformView* view = View(0);
        EXPECT_EQ(view->kind, PlatformViewKind::Slider);
        EXPECT_EQ(view->minimum, 500);
        EXPECT_EQ(view->maximum, 35000);
        EXPECT_EQ(view->tickMarks, c.ticks) << c.flags;
        EXPECT_EQ(view->snapToTicks, c.snap) << c.flags;
        EXPECT_EQ(view->frame.height, 150);  // taller than wide: the platform's vertical slider
        EXPECT_EQ(GadgetRecord(0)->type, kGadgetTrackBar);
        EXPECT_EQ(GetGadgetState(0), 500);
    }
}

TEST_F(GadgetKindTest, TrackBarStateAttributesAndActions) {
    CreateTrackBarGadget(0, 200, 0, 20, 150, 500, 35000, kTrackBarTicks);
    BindGadgetCallback(0, RecordState);
    platform.moveSlider(View(0), 12000);
    EXPECT_EQ(GetGadgetState(0), 12000);
    EXPECT_EQ(GadgetEvents(), (Events{{0, Action}}));
    EXPECT_EQ(statesSeen, (std::vector<int64_t>{12000}));

    SetGadgetState(0, 40000);  // clamped by the slider
    EXPECT_EQ(GetGadgetState(0), 35000);
    SetGadgetAttribute(0, 2, 20000);
    EXPECT_EQ(GetGadgetAttribute(0, 2), 20000);
    EXPECT_EQ(GetGadgetState(0), 20000);
    SetGadgetAttribute(0, 1, 1000);
    EXPECT_EQ(GetGadgetAttribute(0, 1), 1000);
    EXPECT_EQ(View(0)->tickMarks, 19001);
    EXPECT_EQ(GetGadgetAttribute(0, 3), 0);
}

// --- IP-address fields ---------------------------------------------------------------------

TEST_F(GadgetKindTest, IPAddressTextsAndStates) {
    CreateIPAddressGadget(4, 0, 0, 120, 20);
    EXPECT_EQ(Text(4), "");
    EXPECT_EQ(GetGadgetState(4), 0);
    EXPECT_EQ(View(4)->alignment, PlatformTextAlignment::Center);
    EXPECT_EQ(GadgetRecord(4)->type, kGadgetIPAddress);
    EXPECT_EQ(GadgetRecord(4)->flags, 0);

    struct Case {
        const char* set;
        const char* shown;
        int64_t state;
    };
    const Case cases[] = {
        {"127.0.0.1", "127.0.0.1", 16777343},
        {"255.255.255.255", "255.255.255.255", -1},
        {"10.0.0.200", "10.0.0.200", -939524086},
        {"1..2.3", "1..2.3", 1 | (2 << 16) | (3 << 24)},
        {"...", "...", 0},
        {"1.2.3", "0.0.0.0", 0},
        {"300.1.1.1", "0.0.0.0", 0},
        {"1.2.3.4.5", "0.0.0.0", 0},
        {"1.2.3.-4", "0.0.0.0", 0},
        {" 1.2.3.4", "0.0.0.0", 0},
        {"99999999999.1.1.1", "0.0.0.0", 0},
        {"", "0.0.0.0", 0},
        {nullptr, "0.0.0.0", 0},
    };
    for (const Case& c : cases) {
        SetGadgetText(4, c.set);
        EXPECT_EQ(Text(4), c.shown) << (c.set ? c.set : "null");
        EXPECT_EQ(GetGadgetState(4), c.state) << (c.set ? c.set : "null");
    }

    struct StateCase {
        int64_t state;
        const char* shown;
    };
    const StateCase states[] = {
        {127 + (0 << 8) + (0 << 16) + (1 << 24), "127.0.0.1"},
        {-1, "255.255.255.255"},
        {0, "0.0.0.0"},
        {0x100000001LL, "1.0.0.0"},  // only the low 32 bits count
    };
    for (const StateCase& s : states) {
        SetGadgetState(4, s.state);
        EXPECT_EQ(Text(4), s.shown);
    }
    SetGadgetState(4, 16777343);
    EXPECT_EQ(GetGadgetState(4), 16777343);
}

TEST_F(GadgetKindTest, IPAddressEditsMustStayFullAddresses) {
    CreateIPAddressGadget(4, 0, 0, 120, 20);
    PlatformView* field = View(4);
    platform.type(field, "1");  // an empty field cannot be typed into
    EXPECT_EQ(field->text, "");
    EXPECT_EQ(platform.beeps, 1);

    SetGadgetText(4, "127.0.0.1");
    TakeAll();
    platform.deleteCharacter(field, 3);  // the first dot
    EXPECT_EQ(field->text, "127.0.0.1");
    EXPECT_EQ(platform.beeps, 2);
    EXPECT_EQ(QueuedEventCount(), 0);

    platform.editText(field, "10.0.0.2");
    EXPECT_EQ(field->text, "10.0.0.2");
    EXPECT_EQ(GadgetEvents(), (Events{{4, TextChanged}}));
    platform.deleteCharacter(field, 7);  // "10.0.0." still has four parts
    EXPECT_EQ(field->text, "10.0.0.");
    platform.type(field, "9");
    EXPECT_EQ(GetGadgetState(4), 10 | (9 << 24));
    platform.type(field, "99");  // 999 is no octet
    EXPECT_EQ(field->text, "10.0.0.99");
    EXPECT_EQ(platform.beeps, 3);
}

TEST_F(GadgetKindTest, IPAddressFieldReportsEveryEndOfEditing) {
    CreateIPAddressGadget(4, 0, 0, 120, 20);
    CreateStringGadget(5, 0, 30, 80, 20, "10000", kStringNumeric);
    platform.focus(View(4));
    platform.pressReturn(View(4));
    GadgetRecord(4)->functions->EventHandler(View(4));  // the field's action posts nothing
    EXPECT_EQ(GadgetEvents(), (Events{{4, FocusGained}, {4, FocusLost}}));
    platform.focus(View(5));
    EXPECT_EQ(GadgetEvents(), (Events{{4, FocusLost}, {5, FocusGained}}));
}

TEST(IPAddressValidationTest, Rules) {
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"0.0.0.0", true},         {"255.255.255.255", true},
        {"1..2.3", true},          {"...", true},
        {"007.0.0.1", true},       {"", false},
        {"1.2.3", false},          {"1.2.3.4.", false},
        {"256.0.0.1", false},      {"1.2.3.4a", false},
        {"1,2,3,4", false},        {"+1.2.3.4", false},
        {"1.2.3.\xC2\xB9", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KyIPAddressGadgetFunctions::validateIPString(c.text), c.valid) << c.text;
    }
}

}  // namespace
