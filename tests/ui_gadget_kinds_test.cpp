// The five gadget kinds: creation flags, texts and states, keystroke validation and the events
// each kind posts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ui_gadget_fixture.h"

namespace {

using enum PlatformTextAlignment;

using GadgetKindTest = GadgetTest;

TEST_F(GadgetKindTest, LabelFlagsTextsAndGreying) {
    struct Case {
        int32_t flags;
        PlatformTextAlignment alignment;
        bool bordered;
    };
    const Case cases[] = {{0, Natural, false},
                          {kTextRight | kTextCenter, Right, false},
                          {kTextBorder | kTextCenter, Center, true}};
    for (const Case& c : cases) {
        CreateTextGadget(1, 0, 0, 80, 20, "Server:", c.flags);
        EXPECT_EQ(View(1)->alignment, c.alignment) << c.flags;
        EXPECT_EQ(View(1)->bordered, c.bordered) << c.flags;
    }
    CreateTextGadget0(2, 0, 0, 80, 20, nullptr);
    EXPECT_EQ(Text(2), "");
    SetGadgetState(1, 7);  // a label has no state
    EXPECT_EQ(GetGadgetState(1), 0);
    SetGadgetText(1, "-11.5\xB0");  // Latin-1 degree sign
    EXPECT_EQ(View(1)->text, "-11.5\xC2\xB0");
    DisableGadget(1, 1);  // greys instead of disabling
    EXPECT_TRUE(View(1)->greyed);
    EXPECT_TRUE(View(1)->enabled);
}

TEST_F(GadgetKindTest, PlainButtonFlipsItsStateOnEveryPress) {
    CreateButtonGadget(3, 0, 0, 80, 25, "Start");
    BindGadgetCallback(3, RecordEvent);
    for (int64_t expected : {1, 0, 1}) {
        platform.click(View(3));
        EXPECT_EQ(GetGadgetState(3), expected);
        EXPECT_EQ(GadgetEvents(), (Events{{3, Action}}));
    }
    // The procedure ran inside each press and already saw the flipped state.
    EXPECT_EQ(seen, (std::vector<Seen>{{3, Action, 1}, {3, Action, 0}, {3, Action, 1}}));
}

TEST_F(GadgetKindTest, ButtonFlags) {
    struct Case {
        int32_t flags, height;
        PlatformTextAlignment alignment;
        bool toggles, rounded, isDefault;
    };
    const Case cases[] = {
        {kButtonLeft | kButtonRight, 30, Left, false, false, false},
        {kButtonRight, 25, Right, false, true, false},
        {kButtonToggle, 25, Natural, true, true, false},
        {kButtonDefault, 25, Natural, false, true, true},
        {kButtonDefault, 24, Natural, false, false, false},
    };
    for (const Case& c : cases) {
        CreateButtonGadget(3, 0, 0, 80, c.height, "OK", c.flags);
        EXPECT_EQ(View(3)->alignment, c.alignment) << c.flags;
        EXPECT_EQ(View(3)->toggles, c.toggles) << c.flags;
        EXPECT_EQ(View(3)->rounded, c.rounded) << c.flags << " " << c.height;
        EXPECT_EQ(View(3)->isDefault, c.isDefault) << c.flags << " " << c.height;
    }
}

TEST_F(GadgetKindTest, RoundedButtonResizedToAnotherHeightStaysSquare) {
    CreateButtonGadget(3, 0, 0, 80, 25, "Start");
    ResizeGadget(3, 5, -65535, 90, -65535);  // -65535 keeps a value: still 25 high and rounded
    EXPECT_TRUE(View(3)->rounded);
    EXPECT_EQ(View(3)->frame.x, 5);
    EXPECT_EQ(View(3)->frame.width, 90);
    ResizeGadget(3, -65535, -65535, -65535, 30);
    EXPECT_FALSE(View(3)->rounded);
    ResizeGadget(3, -65535, -65535, -65535, 25);
    EXPECT_FALSE(View(3)->rounded);
    EXPECT_EQ(View(3)->frame.height, 25);
}

TEST_F(GadgetKindTest, DigitsOnlyFieldRefusesOtherKeystrokes) {
    CreateStringGadget(5, 0, 0, 80, 20, "10000", kStringNumeric);
    PlatformView* port = View(5);
    platform.focus(port);
    TakeAll();
    for (const char* refused : {"a", "-", "."}) {
        platform.type(port, refused);
        EXPECT_EQ(port->text, "10000") << refused;
        EXPECT_EQ(QueuedEventCount(), 0) << refused;
    }
    platform.type(port, "7");
    EXPECT_EQ(GadgetEvents(), (Events{{5, TextChanged}}));
    EXPECT_EQ(GetGadgetState(5), 100007);
    SetGadgetText(5, "abc");  // the program may set anything
    EXPECT_EQ(Text(5), "abc");
}

TEST_F(GadgetKindTest, CaseFieldsReplaceTypedText) {
    struct Case {
        int32_t flags;
        const char *typed, *shown, *set, *shownAfterSet;
    };
    const Case cases[] = {
        {kStringUpperCase, "abc", "ABC", "xYz", "XYZ"},
        {kStringLowerCase, "AbC", "abc", "XyZ", "xyz"},
        // Upper case wins in the formatter, lower case in SetGadgetText.
        {kStringUpperCase | kStringLowerCase, "ab", "AB", "AbC", "abc"},
        {kStringUpperCase, "\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", "\xE9t\xE9", "\xC9T\xC9"},
        {kStringNumeric | kStringUpperCase, "1a2", "12", "ab", "AB"},
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
    SetGadgetAttribute(6, 1, 3);
    EXPECT_EQ(GetGadgetAttribute(6, 1), 3);
    // Characters count as the field counts them: é is one, a character beyond 16 bits two.
    platform.type(View(6), "a\xC3\xA9xy");
    EXPECT_EQ(View(6)->text, "a\xC3\xA9x");
    platform.editText(View(6), "ab\xF0\x9F\x98\x80");
    EXPECT_EQ(View(6)->text, "a\xC3\xA9x");

    // Every formatter keeps the limit; the program's texts are not limited.
    for (const int32_t flags : {kStringNumeric, kStringUpperCase}) {
        CreateStringGadget(7, 0, 30, 80, 20, "", flags);
        SetGadgetAttribute(7, 1, 2);
        platform.type(View(7), "123");
        EXPECT_EQ(View(7)->text, "12") << flags;
    }
    SetGadgetText(7, "longer");
    EXPECT_EQ(Text(7), "LONGER");
}

TEST_F(GadgetKindTest, ReadOnlyAndPasswordFields) {
    CreateStringGadget(6, 0, 0, 80, 20, "fixed", kStringReadOnly | kStringBorderless);
    platform.type(View(6), "x");
    EXPECT_EQ(View(6)->text, "fixed");

    CreateStringGadget(8, 0, 30, 80, 20, "", kStringPassword);
    EXPECT_EQ(View(8)->kind, PlatformViewKind::SecureField);
    platform.type(View(8), "pw");
    platform.focus(View(6));
    // The second change repeats the newest queued event, so the queue holds it once.
    EXPECT_EQ(GadgetEvents(), (Events{{8, TextChanged}, {6, FocusGained}}));
    EXPECT_EQ(Text(8), "pw");
}

TEST_F(GadgetKindTest, TrackBarFlagsStateAndAttributes) {
    // Flag 2 changes nothing; flag 1 puts a tick on every value.
    const std::pair<int32_t, int64_t> ticks[] = {{0, 0}, {2, 0}, {1, 34501}, {3, 34501}};
    for (const auto& [flags, tickMarks] : ticks) {
        CreateTrackBarGadget(0, 200, 0, 20, 150, 500, 35000, flags);
        EXPECT_EQ(View(0)->tickMarks, tickMarks) << flags;
        EXPECT_EQ(View(0)->snapToTicks, tickMarks != 0) << flags;
        EXPECT_EQ(GetGadgetState(0), 500);
    }
    BindGadgetCallback(0, RecordEvent);
    platform.moveSlider(View(0), 12000);
    EXPECT_EQ(GadgetEvents(), (Events{{0, Action}}));
    EXPECT_EQ(seen, (std::vector<Seen>{{0, Action, 12000}}));
    SetGadgetState(0, 40000);  // clamped by the slider
    EXPECT_EQ(GetGadgetState(0), 35000);
    SetGadgetAttribute(0, 2, 20000);  // a lower maximum moves the state
    EXPECT_EQ(GetGadgetState(0), 20000);
    SetGadgetAttribute(0, 1, 1000);  // the minimum; the ticks follow the range
    EXPECT_EQ(GetGadgetAttribute(0, 1), 1000);
    EXPECT_EQ(View(0)->tickMarks, 19001);
}

TEST_F(GadgetKindTest, IPAddressTextsAndStates) {
    CreateIPAddressGadget(4, 0, 0, 120, 20);
    EXPECT_EQ(Text(4), "");
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
        {"1.2.3", "0.0.0.0", 0},
        {"300.1.1.1", "0.0.0.0", 0},
        {"1.2.3.4.", "0.0.0.0", 0},
        {"+1.2.3.4", "0.0.0.0", 0},
        {"99999999999.1.1.1", "0.0.0.0", 0},
        {nullptr, "0.0.0.0", 0},
    };
    for (const Case& c : cases) {
        SetGadgetText(4, c.set);
        EXPECT_EQ(Text(4), c.shown) << (c.set ? c.set : "null");
        EXPECT_EQ(GetGadgetState(4), c.state) << (c.set ? c.set : "null");
    }
    const std::pair<int64_t, const char*> states[] = {
        {-1, "255.255.255.255"}, {0x100000001LL, "1.0.0.0"},  // only the low 32 bits count
    };
    for (const auto& [state, shown] : states) {
        SetGadgetState(4, state);
        EXPECT_EQ(Text(4), shown);
    }
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

    platform.deleteCharacter(field, 8);  // "127.0.0." still has four parts
    platform.type(field, "99");
    EXPECT_EQ(GadgetEvents(), (Events{{4, TextChanged}}));
    EXPECT_EQ(GetGadgetState(4), 127 | (99 << 24));
    platform.type(field, "9");  // 999 is no octet
    EXPECT_EQ(field->text, "127.0.0.99");
    EXPECT_EQ(platform.beeps, 3);
}

TEST_F(GadgetKindTest, FieldsReportEndsOfEditingButNoAction) {
    CreateIPAddressGadget(4, 0, 0, 120, 20);
    CreateStringGadget(5, 0, 30, 80, 20, "10000", kStringNumeric);
    for (int64_t gadget : {4, 5})
        GadgetRecord(gadget)->functions->EventHandler(View(gadget));  // Return's action
    EXPECT_EQ(QueuedEventCount(), 0);
    // Unlike a string field, the address field reports Return as a focus loss.
    platform.focus(View(4));
    platform.pressReturn(View(4));
    EXPECT_EQ(GadgetEvents(), (Events{{4, FocusGained}, {4, FocusLost}}));
    platform.focus(View(5));
    EXPECT_EQ(GadgetEvents(), (Events{{4, FocusLost}, {5, FocusGained}}));
}

}  // namespace
