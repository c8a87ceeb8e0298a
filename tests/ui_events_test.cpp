// The event queue, windows, menus and the requester against the in-memory platform.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ui_fixture.h"
#include "ui/gadget_list.h"

namespace {

std::vector<std::string> ran;  // what bound procedures saw, in the order they ran
template <int kTag>
int64_t Record() {
    ran.push_back(std::to_string(kTag) + ":" + std::to_string(EventGadget()));
    return 0;
}
int released = 0;
void CountRelease(int64_t) {
    ++released;
}

class EventQueueTest : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        ran.clear();
        released = 0;
    }
    // Opens a window and drops the events that opening it posted.
    PlatformWindow* Open(int64_t number, int32_t flags, int32_t x = 100, int32_t y = 50) {
        OpenMainWindow(number, x, y, 260, 160, "Navlume", flags);
        TakeAll();
        return WindowHandle(number);
    }
};

TEST_F(EventQueueTest, ProceduresRunForFiveKeysNewestFirstAndRepeatsCoalesce) {
    PostEvent(GadgetEvent, 7, 0, FocusLost);
    ASSERT_EQ(NextEvent(), GadgetEvent);
    BindEventCallback(GadgetEvent, Record<1>, -1, 5, TextChanged);
    BindEventCallback(GadgetEvent, Record<2>);
    BindEventCallback(GadgetEvent, Record<3>, 0);
    BindEventCallback(GadgetEvent, Record<4>, 0, 5);
    BindEventCallback(GadgetEvent, Record<5>, 0, 5, TextChanged);
    BindEventCallback(GadgetEvent, Record<6>, 0, 5, TextChanged);
    BindEventCallback(GadgetEvent, Record<7>, 0, 5, FocusGained);
    BindEventCallback(MenuItemChosen, Record<8>);
    PostEvent(GadgetEvent, 5, 0, TextChanged);
    PostEvent(GadgetEvent, 5, 0, TextChanged);  // coalesced, but the procedures run again
    PostEvent(70000, 1, 0, 0);                  // kinds above 65535 never coalesce
    PostEvent(70000, 1, 0, 0);
    const std::vector<std::string> once = {"6:5", "5:5", "4:5", "3:5", "2:5", "1:5"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(ran, twice);
    EXPECT_EQ(QueuedEventCount(), 3);
    EXPECT_EQ(EventGadget(), 7);  // the taken event is current again
    EXPECT_EQ(EventType(), FocusLost);
}

TEST_F(EventQueueTest, WaitReturnsQueuedEventsThenWhatThePlatformBrings) {
    platform.queueUserAction([] {
        PostEvent(GadgetEvent, 1, 0, Action, 42, CountRelease);
        PostEvent(GadgetEvent, 2, 0, Action);
    });
    EXPECT_EQ(WaitEvent(), GadgetEvent);
    EXPECT_EQ(EventGadget(), 1);
    const int64_t handled = platform.handledEvents;
    EXPECT_EQ(WaitEventTimeout(0), GadgetEvent);  // from the queue, not the platform
    EXPECT_EQ(EventGadget(), 2);
    EXPECT_EQ(platform.handledEvents, handled);
    EXPECT_EQ(released, 1);  // the first event's data went when the next was taken
    platform.discardPendingActions();
    platform.queueUserAction([] {});
    EXPECT_EQ(WaitEventTimeout(0), -1);  // handled, but no layer event
    EXPECT_EQ(WaitEventTimeout(0), 0);
    EXPECT_EQ(EventType(), -1);
    std::thread waker([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        WakeEventLoop();
    });
    EXPECT_EQ(WaitEvent(), -1);
    waker.join();
}

TEST_F(EventQueueTest, PurgeDropsOneWindowsEventsAndKeepsTheTail) {
    PostEvent(GadgetEvent, 1, 1, Action);
    PostEvent(GadgetEvent, 2, 2, Action, 42, CountRelease);
    PostEvent(GadgetEvent, 3, 1, Action);
    PostEvent(GadgetEvent, 4, 2, Action);
    PurgeWindowEvents(2);
    EXPECT_EQ(released, 1);
    PostEvent(GadgetEvent, 5, 1, Action);
    EXPECT_EQ(TakeAll(), (std::vector<Taken>{{3, 1, 0}, {3, 3, 0}, {3, 5, 0}}));
}

TEST_F(EventQueueTest, WindowGeometryCountsFromTheScreensTopLeftOrCentres) {
    struct Case {
        int32_t flags, x;
        double contentX, contentY;
    };
    const Case cases[] = {{0x4, 100, 100, 78},  // below the 28-point title bar
                          {0x80, 100, 100, 50},
                          {0x44, 0, (1920 - 260) / 2, (1080 - 188) / 2 + 28},
                          {0x4, kWindowCentered, (1920 - 260) / 2, (1080 - 188) / 2 + 28}};
    for (const Case& c : cases) {
        PlatformWindow* window = Open(1, c.flags, c.x, 50);
        EXPECT_EQ(window->content.x, c.contentX) << c.flags;
        EXPECT_EQ(window->content.y, c.contentY) << c.flags;
        EXPECT_EQ(window->content.width, 260);
    }
    EXPECT_EQ(platform.windows().size(), 1u);  // reopening a number replaces the window
}

TEST_F(EventQueueTest, ShowingFlags) {
    PlatformWindow* normal = Open(0, 0x44);
    EXPECT_TRUE(normal->visible);
    EXPECT_EQ(platform.keyWindow(), normal);
    PlatformWindow* hidden = Open(1, 0x1 | 0x4);
    EXPECT_FALSE(hidden->visible);
    EXPECT_EQ(KyGadgetList::currentWindow(), hidden);
    EXPECT_TRUE(Open(2, 0x2000 | 0x1000 | 0x4)->visible);
    EXPECT_EQ(platform.keyWindow(), normal);           // 0x2000: not activated
    EXPECT_EQ(KyGadgetList::currentWindow(), hidden);  // 0x1000: not the gadget list
    EXPECT_TRUE(Open(3, 0x200 | 0x4)->zoomed);
    EXPECT_TRUE(Open(4, 0x400 | 0x4)->miniaturized);
}

TEST_F(EventQueueTest, ClosingPurgesEventsAndHandsTheKeyboardBack) {
    PlatformWindow* first = Open(0, 0x44);
    Open(1, 0x44);
    Open(2, 0x2000 | 0x4);  // visible, never key
    PostEvent(GadgetEvent, 5, 1, TextChanged);
    PostEvent(GadgetEvent, 6, 0, TextChanged);
    platform.pressCloseButton(WindowHandle(1));  // asks only
    CloseWindowByNumber(1);
    // Window 1's events went with it; window 0 got the keyboard back.
    EXPECT_EQ(TakeAll(),
              (std::vector<Taken>{{GadgetEvent, 6, TextChanged}, {WindowBecameKey, 0, 0}}));
    // The window that was key is hidden now: the first visible window gets the keyboard.
    PlatformWindow* hiddenLater = Open(3, 0x44);
    Open(4, 0x44);
    hiddenLater->visible = false;
    CloseWindowByNumber(4);
    EXPECT_EQ(platform.keyWindow(), first);
    const int64_t any = OpenMainWindow(-1, 0, 0, 100, 100, "Caf\xE9", 0x4);
    EXPECT_EQ(WindowHandle(any)->title, "Caf\xC3\xA9");
    EXPECT_EQ(WindowNumberOf(WindowHandle(any)), any);
    EXPECT_EQ(OpenMainWindow(-2, 0, 0, 10, 10, "x", 0x4), 0);
}

TEST_F(EventQueueTest, NotificationsBecomeEvents) {
    PlatformWindow* window = Open(0, 0x10 | 0x40);  // resizable
    platform.pressCloseButton(window);
    platform.zoomWindow(window);
    platform.zoomWindow(window);
    KyWindowEvents* events = window->delegate;
    for (int32_t clicks : {1, 2, 3})
        events->contentMouseUp(clicks);
    events->contentRightMouseUp(1);
    events->windowDidMiniaturize();
    window->zoomed = true;
    events->windowDidDeminiaturize();
    window->zoomed = false;
    events->windowDidDeminiaturize();
    std::vector<int64_t> kinds;
    for (const Taken& taken : TakeAll())
        kinds.push_back(taken.kind);
    EXPECT_EQ(kinds, (std::vector<int64_t>{CloseRequested, WindowMoved, WindowZoomedLarger,
                                           WindowResized, WindowMoved, WindowRestored,
                                           WindowResized, MouseUp, DoubleMouseUp, RightMouseUp,
                                           WindowMinimized, WindowZoomedLarger, WindowRestored}));
    EXPECT_EQ(WindowHandle(0), window);  // the close button only asked
}

TEST(BundleDirectoryTest, OnlyABundlesExecutableMovesIntoContents) {
    const std::pair<const char*, const char*> cases[] = {
        {"/opt/Navlume.app/Contents/MacOS/Navlume", "/opt/Navlume.app/Contents"},
        {"/home/a b/Navlume.app/Contents/MacOS/Navlume", "/home/a b/Navlume.app/Contents"},
        {"/usr/bin/navlume", ""},
        {"/opt/Navlume.app/Contents/Navlume", ""},
        {"/.app/Contents/MacOS/Navlume", ""},
        {"Navlume", ""}};
    for (const auto& [executable, contents] : cases)
        EXPECT_EQ(BundleContentsDirectory(executable), contents) << executable;
}

TEST(ParseMenuItemTextTest, SplitsTitleModifiersAndKey) {
    const MenuItemText cases[] = {
        {"Quit\tCmd+Q", kModifierCommand, "q"},
        {"Open\tCtrl+Shift+F5", kModifierControl | kModifierShift | kModifierFunctionKey,
         "\xEF\x9C\x88"},  // U+F708
        {"Last\tx+f12", kModifierFunctionKey, "\xEF\x9C\x8F"},
        {"Nought\tF0", 0, "f0"},
        {"Lead\tF01", kModifierFunctionKey, "\xEF\x9C\x84"},
        {"Beyond\tF13", 0, "f13"},
        {"Sign\tF+1", 0, "1"},
        {"&Save && Quit\tAlt+S", kModifierOption, "s"},
        {"Parts\tB\tC", 0, "b"},
        {"Caf\xE9", 0, ""},
    };
    const char* titles[] = {"Quit",   "Open", "Last",       "Nought", "Lead",
                            "Beyond", "Sign", "Save  Quit", "Parts",  "Caf\xC3\xA9"};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const MenuItemText parsed = ParseMenuItemText(cases[i].title.c_str());
        EXPECT_EQ(parsed.title, titles[i]) << i;
        EXPECT_EQ(parsed.modifiers, cases[i].modifiers) << i;
        EXPECT_EQ(parsed.key, cases[i].key) << i;
    }
}

TEST_F(EventQueueTest, MenuBarsAndTheApplicationMenu) {
    PlatformWindow* window = Open(0, 0x44);
    EXPECT_EQ(platform.appMenuName, "Navlume");
    PlatformMenuBar* defaultBar = platform.installedMenuBar();
    ASSERT_NE(CreateMenuBar(0, window), 0);
    ASSERT_NE(CreateMenuBar(0, window), 0);  // replaces the first bar
    EXPECT_EQ(platform.menuBarCount(), 2u);
    EXPECT_TRUE(platform.installedMenuBar()->holdsApplicationMenu);
    EXPECT_NE(platform.installedMenuBar(), defaultBar);
    AddMenuItem(-3, "About App");
    AddMenuItem(-1, "Quit\tCmd+Q");
    platform.chooseAppMenuItem(PlatformAppMenuItem::Preferences);  // still disabled
    platform.chooseAppMenuItem(PlatformAppMenuItem::About);
    platform.chooseAppMenuItem(PlatformAppMenuItem::Quit);
    EXPECT_EQ(TakeAll(), (std::vector<Taken>{{MenuItemChosen, -3, 0}, {MenuItemChosen, -1, 0}}));

    // A bar of a window that is not key waits until it is.
    Open(1, 0x4 | 0x2000);
    PlatformMenuBar* before = platform.installedMenuBar();
    CreateMenuBar(1, WindowHandle(1));
    EXPECT_EQ(platform.installedMenuBar(), before);
    platform.makeKeyWindow(WindowHandle(1));
    EXPECT_NE(platform.installedMenuBar(), before);
    CloseWindowByNumber(1);
    CloseWindowByNumber(0);
    EXPECT_EQ(platform.installedMenuBar(), defaultBar);
    EXPECT_EQ(platform.menuBarCount(), 1u);
}

TEST_F(EventQueueTest, MessageBoxButtonsAndResults) {
    const std::tuple<int32_t, int64_t, size_t, int64_t> cases[] = {
        {0, 6, 0, 0}, {1, 7, 2, 7}, {2, 2, 3, 2}, {3, 6, 3, 6}};
    for (const auto& [flags, answer, buttons, result] : cases) {
        platform.answerNextAlert(answer);
        EXPECT_EQ(ShowMessageBox("Invalid Port", "Caf\xE9", flags), result) << flags;
        EXPECT_EQ(platform.alerts.back().buttons.size(), buttons) << flags;
    }
    EXPECT_EQ(platform.alerts.back().text, "Caf\xC3\xA9");
    ShowMessageBox0(nullptr, nullptr);
    EXPECT_EQ(platform.alerts.back().title, "");
}

// Counts posts and keeps each one open a little, so that a shut-down overlaps them.
class SlowPostingPlatform : public FakePlatform {
  public:
    void postToGuiThread(std::function<void()>) override {
        ++inside;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        ++posts;
        --inside;
    }
    std::atomic<int> inside{0}, posts{0};
};

TEST(PlatformShutDownTest, NoThreadIsInsideOrEntersAPlatformThatWasReplaced) {
    SlowPostingPlatform platform;
    SetUiPlatform(&platform);
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop)
            PostToGuiThread([] {});
    });
    while (platform.posts < 20)
        std::this_thread::yield();
    SetUiPlatform(nullptr);
    EXPECT_EQ(platform.inside, 0);
    const int posts = platform.posts;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(platform.posts, posts);
    stop = true;
    worker.join();
}

}  // namespace
