#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ui_fixture.h"
#include "ui/gadget_list.h"
#include "ui/windows.h"

namespace {

class WindowTest : public UiTest {
  protected:
    // Opens a window and drops the events that opening it posted.
    PlatformWindow* Open(int64_t number, int32_t flags, int32_t x = 100, int32_t y = 50) {
        OpenMainWindow(number, x, y, 260, 160, "Navlume", flags);
        TakeAll();
        return WindowHandle(number);
    }
};

struct StyleCase {
    int32_t flags;
    bool titled, closable, resizable, miniaturizable;
};

TEST(WindowStyleTest, FlagsGiveTheirDecorations) {
    const StyleCase cases[] = {
        {0x44, true, true, false, false},   {0x0, false, false, false, false},
        {0x2, true, false, true, false},    {0x8, true, false, false, false},
        {0x10, true, true, true, false},    {0x20, true, true, false, true},
        {0x84, false, false, false, false},  // borderless wins
        {0x200, false, false, true, false}, {0x400, false, false, false, true},
        {0x800, true, false, false, false},
    };
    for (const auto& c : cases) {
        const PlatformWindowStyle style = WindowStyleForFlags(c.flags);
        EXPECT_EQ(style.titled, c.titled) << std::hex << c.flags;
        EXPECT_EQ(style.closable, c.closable) << std::hex << c.flags;
        EXPECT_EQ(style.resizable, c.resizable) << std::hex << c.flags;
        EXPECT_EQ(style.miniaturizable, c.miniaturizable) << std::hex << c.flags;
    }
}

TEST_F(WindowTest, GeometryCountsFromTheScreensTopLeftAndCentres) {
    PlatformWindow* placed = Open(0, 0x4, 100, 50);
    ASSERT_NE(placed, nullptr);
    // The frame's top-left is at 100, 50; the 28-point title bar sits above the content.
    EXPECT_EQ(placed->content.x, 100);
    EXPECT_EQ(placed->content.y, 78);
    EXPECT_EQ(placed->content.width, 260);
    EXPECT_EQ(placed->content.height, 160);
    EXPECT_EQ(placed->title, "Navlume");

    for (const auto& [flags, x] :
         std::vector<std::pair<int32_t, int32_t>>{{0x44, 0}, {0x4, -65535}}) {
        PlatformWindow* centred = Open(1, flags, x, 0);
        ASSERT_NE(centred, nullptr);
        EXPECT_EQ(centred->content.x, (1920 - 260) / 2) << flags;
        EXPECT_EQ(centred->content.y + 160 / 2, 1080 / 2 + 28 / 2) << flags;
    }
}

TEST_F(WindowTest, ShowingFlags) {
    PlatformWindow* normal = Open(0, 0x44);
    EXPECT_TRUE(normal->visible);
    EXPECT_EQ(platform.keyWindow(), normal);
    EXPECT_EQ(KyGadgetList::currentWindow(), normal);

    PlatformWindow* hidden = Open(1, 0x1 | 0x4);
    EXPECT_FALSE(hidden->visible);
    EXPECT_EQ(KyGadgetList::currentWindow(), hidden);

    PlatformWindow* quiet = Open(2, 0x2000 | 0x1000 | 0x4);
    EXPECT_TRUE(quiet->visible);
    EXPECT_EQ(platform.keyWindow(), normal);
    EXPECT_EQ(KyGadgetList::currentWindow(), hidden);  // 0x1000: not the gadget list

    EXPECT_TRUE(Open(3, 0x200 | 0x4)->zoomed);
    EXPECT_TRUE(Open(4, 0x400 | 0x4)->miniaturized);
}

TEST_F(WindowTest, CloseButtonPostsARequestAndTheWindowStays) {
    PlatformWindow* window = Open(0, 0x44);
    platform.pressCloseButton(window);
    EXPECT_EQ(TakeAll(), (std::vector<Taken>{{CloseRequested, 0, 0}}));
    EXPECT_EQ(WindowHandle(0), window);
    EXPECT_EQ(platform.windows().size(), 1u);
}

TEST_F(WindowTest, ReopeningANumberReplacesTheWindow) {
    PlatformWindow* first = Open(0, 0x44);
    PlatformWindow* second = Open(0, 0x44);
    EXPECT_NE(first, second);
    EXPECT_EQ(platform.windows(), std::vector<PlatformWindow*>{second});
    EXPECT_EQ(WindowNumberOf(second), 0);
}

TEST_F(WindowTest, AnyNumberWindowsHaveTheirOwnNumbers) {
    const int64_t a = OpenMainWindow(-1, 0, 0, 100, 100, "a", 0x4);
    const int64_t b = OpenMainWindow(-1, 0, 0, 100, 100, "b", 0x4);
    EXPECT_NE(a, b);
    EXPECT_GT(a, 1000);
    EXPECT_EQ(WindowNumberOf(WindowHandle(a)), a);
    EXPECT_EQ(WindowHandle(b)->title, "b");
    CloseWindowByNumber(a);
    EXPECT_EQ(WindowHandle(a), nullptr);
    EXPECT_NE(WindowHandle(b), nullptr);
    EXPECT_EQ(WindowNumberOf(nullptr), -1);
}

TEST_F(WindowTest, ClosingPurgesTheWindowsQueuedEvents) {
    Open(0, 0x44);
    Open(1, 0x44);
    PostEvent(GadgetEvent, 5, 0, TextChanged);
    PostEvent(GadgetEvent, 6, 1, TextChanged);
    CloseWindowByNumber(0);
    for (const Taken& taken : TakeAll())
        EXPECT_NE(taken.object, 5);
    EXPECT_EQ(WindowHandle(0), nullptr);
}

TEST_F(WindowTest, ClosingTheKeyWindowHandsTheKeyboardBack) {
    PlatformWindow* first = Open(0, 0x44);
    Open(1, 0x44);
    Open(2, 0x2000 | 0x4);  // visible, never key
    CloseWindowByNumber(1);
    EXPECT_EQ(platform.keyWindow(), first);

    // The window that was key is hidden now: the first visible window gets the keyboard.
    PlatformWindow* hiddenLater = Open(3, 0x44);
    Open(4, 0x44);
    hiddenLater->visible = false;
    CloseWindowByNumber(4);
    EXPECT_EQ(platform.keyWindow(), first);
}

TEST_F(WindowTest, NotificationsBecomeEvents) {
    PlatformWindow* window = Open(0, 0x10 | 0x40);  // resizable
    KyWindowEvents* events = window->delegate;
    ASSERT_NE(events, nullptr);

    platform.zoomWindow(window);
    platform.zoomWindow(window);
    events->contentMouseUp(1);
    events->contentMouseUp(2);
    events->contentMouseUp(3);
    events->contentRightMouseUp(1);
    events->windowDidMiniaturize();
    window->zoomed = true;
    events->windowDidDeminiaturize();
    window->zoomed = false;
    events->windowDidDeminiaturize();
    const std::vector<Taken> expected = {
        {WindowZoomedLarger, 0, 0}, {WindowResized, 0, 0},  {WindowMoved, 0, 0},
        {WindowRestored, 0, 0},     {WindowResized, 0, 0},  {MouseUp, 0, 0},
        {DoubleMouseUp, 0, 0},      {RightMouseUp, 0, 0},   {WindowMinimized, 0, 0},
        {WindowZoomedLarger, 0, 0}, {WindowRestored, 0, 0},
    };
    std::vector<Taken> taken = TakeAll();
    // Moving may be reported before or after the resize that a zoom causes; compare kinds
    // without the moves.
    std::erase_if(taken, [](const Taken& t) { return t.kind == WindowMoved; });
    std::vector<Taken> wanted = expected;
    std::erase_if(wanted, [](const Taken& t) { return t.kind == WindowMoved; });
    EXPECT_EQ(taken, wanted);
}

TEST_F(WindowTest, TitlesAreLatin1) {
    OpenMainWindow(0, 0, 0, 100, 100, "Caf\xE9", 0x4);
    EXPECT_EQ(WindowHandle(0)->title, "Caf\xC3\xA9");
    OpenMainWindow(1, 0, 0, 100, 100, nullptr, 0x4);
    EXPECT_EQ(WindowHandle(1)->title, "");
}

TEST_F(WindowTest, ARefusedWindowGivesZero) {
    EXPECT_EQ(OpenMainWindow(-2, 0, 0, 10, 10, "x", 0x4), 0);
    EXPECT_EQ(WindowHandle(7), nullptr);
    CloseWindowByNumber(7);  // no such window: nothing happens
    EXPECT_TRUE(platform.windows().empty());
}

struct BundleCase {
    const char* executable;
    const char* contents;
};

TEST(BundleDirectoryTest, OnlyABundlesExecutableMovesIntoContents) {
    const BundleCase cases[] = {
        {"/opt/Navlume.app/Contents/MacOS/Navlume", "/opt/Navlume.app/Contents"},
        {"/home/a b/x/Navlume.app/Contents/MacOS/Navlume", "/home/a b/x/Navlume.app/Contents"},
        {"/usr/bin/navlume", ""},
        {"/opt/Navlume.app/Contents/Navlume", ""},
        {"/.app/Contents/MacOS/Navlume", ""},
        {"Navlume", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BundleContentsDirectory(c.executable), c.contents) << c.executable;
}

}  // namespace
