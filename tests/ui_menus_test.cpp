#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ui_fixture.h"

namespace {

struct ParseCase {
    const char* text;
    const char* title;
    int64_t modifiers;
    const char* key;
};

TEST(ParseMenuItemTextTest, SplitsTitleModifiersAndKey) {
    const ParseCase cases[] = {
        {"Quit\tCmd+Q", "Quit", kModifierCommand, "q"},
        {"Open\tCtrl+Shift+F5", "Open", kModifierControl | kModifierShift | kModifierFunctionKey,
         "\xEF\x9C\x88"},  // U+F708
        {"Help\tF1", "Help", kModifierFunctionKey, "\xEF\x9C\x84"},
        {"Last\tf12", "Last", kModifierFunctionKey, "\xEF\x9C\x8F"},
        {"&File", "File", 0, ""},
        {"Save && Quit\tAlt+S", "Save  Quit", kModifierOption, "s"},
        {"Two keys\tCmd+S+X", "Two keys", kModifierCommand, "x"},
        {"Parts\tB\tC", "Parts", 0, "b"},
        {"Beyond\tF13", "Beyond", 0, "f13"},
        {"No shortcut", "No shortcut", 0, ""},
        {"Caf\xE9\tCmd+K", "Caf\xC3\xA9", kModifierCommand, "k"},
        {"", "", 0, ""},
    };
    for (const auto& c : cases) {
        const MenuItemText parsed = ParseMenuItemText(c.text);
        EXPECT_EQ(parsed.title, c.title) << c.text;
        EXPECT_EQ(parsed.modifiers, c.modifiers) << c.text;
        EXPECT_EQ(parsed.key, c.key) << c.text;
    }
    EXPECT_EQ(ParseMenuItemText(nullptr).title, "");
}

class MenuTest : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        OpenMainWindow(0, 0, 0, 260, 160, "Navlume", 0x44);
        TakeAll();
    }
};

TEST_F(MenuTest, ApplicationMenuIsBuiltOnceWithTheExecutablesName) {
    EXPECT_TRUE(platform.appMenuBuilt);
    EXPECT_EQ(platform.appMenuName, "Navlume");
    EXPECT_NE(platform.installedMenuBar(), nullptr);  // the default bar
}

TEST_F(MenuTest, ReservedIdsConnectTheApplicationMenu) {
    PlatformMenuBar* defaultBar = platform.installedMenuBar();
    EXPECT_NE(CreateMenuBar(0, WindowHandle(0)), 0);
    EXPECT_NE(platform.installedMenuBar(), defaultBar);  // the key window's bar is installed

    EXPECT_FALSE(platform.appMenuEnabled[0]);
    AddMenuItem(-3, "About App");
    AddMenuItem(-1, "Quit\tCmd+Q");
    EXPECT_TRUE(platform.appMenuEnabled[0]);
    EXPECT_FALSE(platform.appMenuEnabled[1]);  // Preferences stays disabled

    platform.chooseAppMenuItem(PlatformAppMenuItem::Preferences);  // disabled: nothing
    platform.chooseAppMenuItem(PlatformAppMenuItem::About);
    platform.chooseAppMenuItem(PlatformAppMenuItem::Quit);
    EXPECT_EQ(TakeAll(), (std::vector<Taken>{{MenuItemChosen, -3, 0}, {MenuItemChosen, -1, 0}}));
}

TEST_F(MenuTest, RecreatingAndClosingRestoreTheDefaultBar) {
    PlatformMenuBar* defaultBar = platform.installedMenuBar();
    CreateMenuBar(0, WindowHandle(0));
    PlatformMenuBar* first = platform.installedMenuBar();
    EXPECT_EQ(platform.menuBarCount(), 2u);
    EXPECT_NE(first, defaultBar);
    CreateMenuBar(0, WindowHandle(0));
    // The old bar is gone (its memory may be reused), the new one is installed and the
    // application menu is in exactly one bar.
    PlatformMenuBar* second = platform.installedMenuBar();
    EXPECT_EQ(platform.menuBarCount(), 2u);
    EXPECT_NE(second, defaultBar);
    EXPECT_TRUE(second->holdsApplicationMenu);
    EXPECT_FALSE(defaultBar->holdsApplicationMenu);

    CloseWindowByNumber(0);
    EXPECT_EQ(platform.installedMenuBar(), defaultBar);
    EXPECT_TRUE(defaultBar->holdsApplicationMenu);
}

TEST_F(MenuTest, ABarOfAnotherWindowWaitsUntilThatWindowIsKey) {
    OpenMainWindow(1, 0, 0, 100, 100, "Other", 0x4 | 0x2000);
    PlatformMenuBar* before = platform.installedMenuBar();
    CreateMenuBar(1, WindowHandle(1));
    EXPECT_EQ(platform.installedMenuBar(), before);
    platform.makeKeyWindow(WindowHandle(1));
    EXPECT_NE(platform.installedMenuBar(), before);
    FreeMenu(1);
    FreeMenu(1);  // already gone: nothing happens
    FreeWindowMenu(nullptr);
}

TEST_F(MenuTest, AnyNumberBarsAndMissingBars) {
    const int64_t a = CreateMenuBar(-1, nullptr);
    const int64_t b = CreateMenuBar(-1, nullptr);
    EXPECT_NE(a, 0);
    EXPECT_NE(a, b);
    FreeMenu(a);
    FreeMenu(-1);
    AddMenuItem(-3, "About");  // no current bar: nothing happens
    EXPECT_FALSE(platform.appMenuEnabled[0]);
}

struct AlertCase {
    int32_t flags;
    int64_t answer;
    size_t buttons;
    int64_t result;
};

TEST_F(MenuTest, MessageBoxButtonsAndResults) {
    const AlertCase cases[] = {
        {0, 0, 0, 0}, {1, 6, 2, 6}, {1, 7, 2, 7}, {2, 2, 3, 2}, {3, 2, 3, 2}, {2, 6, 3, 6},
    };
    for (const auto& c : cases) {
        platform.alerts.clear();
        platform.answerNextAlert(c.answer);
        EXPECT_EQ(ShowMessageBox("Invalid Port", "Please select a port", c.flags), c.result)
            << c.flags;
        ASSERT_EQ(platform.alerts.size(), 1u);
        EXPECT_EQ(platform.alerts[0].buttons.size(), c.buttons) << c.flags;
    }
    EXPECT_EQ(platform.alerts[0].buttons[2].title, "Cancel");
}

TEST_F(MenuTest, MessageBoxTextsAndKeyWindow) {
    PlatformWindow* key = platform.keyWindow();
    platform.answerNextAlert(0);
    EXPECT_EQ(ShowMessageBox0(nullptr, nullptr), 0);
    EXPECT_EQ(platform.alerts.back().title, "");
    EXPECT_EQ(platform.alerts.back().text, "");
    EXPECT_EQ(platform.keyWindow(), key);

    ShowMessageBox0("About Navlume", "Caf\xE9");
    EXPECT_EQ(platform.alerts.back().title, "About Navlume");
    EXPECT_EQ(platform.alerts.back().text, "Caf\xC3\xA9");
}

}  // namespace
