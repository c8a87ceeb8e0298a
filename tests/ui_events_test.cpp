// The event queue, windows, menus, the requester, and where the files go (HOME in scratch).
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <tuple>

#include "runtime/memory_block.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/ui_fixture.h"
#include "ui/gadget_list.h"
#include "ui/user_folder.h"

namespace {

std::string ran;  // which bound procedures ran, in order
template <char kTag>
const EventProcedure Record = [] { return ran += kTag, int64_t{0}; };
int released = 0;
const EventDataRelease CountRelease = [](int64_t) { ++released; };

using EventsTest = UiTest;

std::pair<double, double> Origin(const PlatformWindow* window) {  // of the content area
    return {window->content.x, window->content.y};
}

TEST_F(EventsTest, QueueBindingsCoalescingPurgeAndData) {
    PostEvent(GadgetEvent, 7, 0, FocusLost, 42, CountRelease);
    ASSERT_EQ(NextEvent(), GadgetEvent);
    BindEventCallback(GadgetEvent, Record<'1'>, -1, 5, TextChanged);
    BindEventCallback(GadgetEvent, Record<'2'>);
    BindEventCallback(GadgetEvent, Record<'3'>, 0);
    BindEventCallback(GadgetEvent, Record<'4'>, 0, 5);
    BindEventCallback(GadgetEvent, Record<'5'>, 0, 5, TextChanged);
    BindEventCallback(GadgetEvent, Record<'6'>, 0, 5, TextChanged);
    BindEventCallback(GadgetEvent, Record<'x'>, 0, 5, FocusGained);
    PostEvent(GadgetEvent, 5, 0, TextChanged);
    PostEvent(GadgetEvent, 5, 0, TextChanged);  // coalesced, but the procedures run again
    EXPECT_EQ(ran, "654321654321");
    EXPECT_EQ(EventGadget(), 7);  // the taken event is current again
    EXPECT_EQ(EventType(), FocusLost);
    for (int32_t kind : {70000, 70000, 65535, 65535})  // kinds above 65535 never coalesce
        PostEvent(kind, 1, 1, 0);
    PostEvent(GadgetEvent, 2, 2, Action, 43, CountRelease);
    PostEvent(GadgetEvent, 3, 1, Action);
    PostEvent(GadgetEvent, 4, 2, Action);
    PurgeWindowEvents(2);
    EXPECT_EQ(released, 1);  // the purged event's data
    PostEvent(GadgetEvent, 5, 1, Action);
    const Events left = {{3, 5, 768},   {70000, 1, 0}, {70000, 1, 0},
                         {65535, 1, 0}, {3, 3, 0},     {3, 5, 0}};
    EXPECT_EQ(TakeAll(), left);
    EXPECT_EQ(released, 2);  // the first event's data went when the next was taken
    PostEvent(GadgetEvent, 8, 1, Action, 45);  // data without a release is left alone
    PostEvent(GadgetEvent, 9, 1, Action, 46, CountRelease);
    ASSERT_EQ(NextEvent(), GadgetEvent);
    EventQueueEnd();  // releases what still waits
    EXPECT_EQ(released, 3);
    EventQueueInit();
}

TEST_F(EventsTest, WaitReturnsQueuedEventsThenWhatThePlatformBrings) {
    platform.queueUserAction([] {
        PostEvent(GadgetEvent, 1, 0, Action);
        PostEvent(GadgetEvent, 2, 0, Action);
    });
    EXPECT_EQ(WaitEvent(), GadgetEvent);
    const int64_t handled = platform.handledEvents;
    EXPECT_EQ(WaitEventTimeout(0), GadgetEvent);  // from the queue, not the platform
    EXPECT_EQ(EventGadget(), 2);
    EXPECT_EQ(platform.handledEvents, handled);
    platform.discardPendingActions();  // the wake-ups of the postings
    platform.queueUserAction([] {});
    EXPECT_EQ(WaitEventTimeout(0), -1);  // handled, but no layer event
    EXPECT_EQ(WaitEventTimeout(0), 0);
    EXPECT_EQ(EventType(), -1);
    std::thread([] { WakeEventLoop(); }).join();
    EXPECT_EQ(WaitEvent(), -1);
}

TEST_F(EventsTest, WindowFlagsPlaceAndShowTheWindow) {
    // clang-format off
    const std::tuple<int32_t, int32_t, double, double> places[] = {  // 28-point title bar
        {0x4, 100, 100, 78}, {0x80, 100, 100, 50}, {0x44, 0, 830, 474}, {0x4, kWindowCentered, 830, 474}};
    // clang-format on
    for (const auto& [flags, x, contentX, contentY] : places)
        EXPECT_EQ(Origin(Open(1, flags, x)), std::pair(contentX, contentY)) << flags;
    PlatformWindow* hidden = Open(2, 0x1 | 0x4);
    EXPECT_FALSE(hidden->visible);
    EXPECT_EQ(KyGadgetList::currentWindow(), hidden);
    EXPECT_TRUE(Open(3, 0x2000 | 0x1000 | 0x4)->visible);
    EXPECT_EQ(platform.keyWindow(), WindowHandle(1));  // 0x2000: not activated
    EXPECT_EQ(KyGadgetList::currentWindow(), hidden);  // 0x1000: not the gadget list
    EXPECT_TRUE(Open(4, 0x200 | 0x4)->zoomed && Open(5, 0x400 | 0x4)->miniaturized);
    EXPECT_EQ(WindowHandle(OpenMainWindow(-1, 0, 0, 100, 100, "Caf\xE9", 0x4))->title,
              "Caf\xC3\xA9");
    EXPECT_EQ(OpenMainWindow(-2, 0, 0, 10, 10, "x", 0x4), 0);
    SetWindowTitle(99, "no such window");  // nothing to show it in
    std::thread([] { SetWindowTitle(98, "nor here"); }).join();
    Drain();
    EXPECT_EQ(WindowHandle(1)->title, "Navlume");
    // 0x100: centred over the key window, or over the parent when there is one.
    platform.makeKeyWindow(WindowHandle(1));  // frame 830, 446, 260 x 188
    OpenMainWindow(6, 0, 0, 100, 60, "over the key window", 0x100 | 0x4);
    OpenMainWindow(7, 0, 0, 100, 60, "over its parent", 0x100 | 0x4, hidden);  // 100, 50
    EXPECT_EQ(Origin(WindowHandle(6)), std::pair(910.0, 524.0));
    EXPECT_EQ(Origin(WindowHandle(7)), std::pair(180.0, 128.0));
    EXPECT_EQ(WindowHandle(7)->parent, hidden);
    EXPECT_EQ(WindowHandle(6)->parent, nullptr);
    OpenMainWindow(8, 10, 20, 100, 60, "placed", 0x2000 | 0x4);
    platform.makeKeyWindow(nullptr);  // nothing to centre over: it stays where it was asked to be
    OpenMainWindow(9, 10, 20, 100, 60, "over nothing", 0x100 | 0x4);
    EXPECT_EQ(Origin(WindowHandle(9)), Origin(WindowHandle(8)));
}

TEST_F(EventsTest, ClosingPurgesEventsAndHandsTheKeyboardBack) {
    PlatformWindow* first = Open(0, 0x44);
    Open(1, 0x44);
    Open(2, 0x2000 | 0x4);  // visible, never key
    PostEvent(GadgetEvent, 5, 1, TextChanged);
    PostEvent(GadgetEvent, 6, 0, TextChanged);
    CloseWindowByNumber(1);
    EXPECT_EQ(TakeAll(), (Events{{GadgetEvent, 6, TextChanged}, {WindowBecameKey, 0, 0}}));
    PlatformWindow* hiddenLater = Open(3, 0x44);
    Open(4, 0x44);
    hiddenLater->visible = false;  // the key window, hidden: the first visible one gets the keys
    CloseWindowByNumber(4);
    EXPECT_EQ(platform.keyWindow(), first);
}

TEST_F(EventsTest, NotificationsBecomeEvents) {
    PlatformWindow* window = Open(0, 0x10 | 0x40);  // resizable
    platform.zoomWindow(window);
    platform.zoomWindow(window);
    KyWindowEvents* events = window->delegate;
    events->contentMouseUp(3);  // no such click
    events->windowDidMiniaturize();
    window->zoomed = true;
    events->windowDidDeminiaturize();
    window->zoomed = false;
    events->windowDidDeminiaturize();
    // A zoom that grows the window in one direction only makes it larger; one to its size not.
    const PlatformRect frame = platform.windowFrame(window);
    for (const PlatformRect proposed :
         {PlatformRect{frame.x, frame.y, frame.width + 1, 1},
          PlatformRect{frame.x, frame.y, 1, frame.height + 1}, frame}) {
        events->windowShouldZoom(proposed);
        events->windowDidResize();
    }
    std::vector<int64_t> kinds;
    for (const Taken& taken : TakeAll())
        kinds.push_back(taken.kind);
    EXPECT_EQ(kinds, (std::vector<int64_t>{WindowMoved, WindowZoomedLarger, WindowResized,
                                           WindowMoved, WindowRestored, WindowResized,
                                           WindowMinimized, WindowZoomedLarger, WindowRestored,
                                           WindowZoomedLarger, WindowResized, WindowZoomedLarger,
                                           WindowResized, WindowRestored, WindowResized}));
}

TEST(ApplicationTest, BundleDirectoryAndMenuItemTexts) {
    // clang-format off
    const std::pair<const char*, const char*> bundles[] = {
        {"/a b/N.app/Contents/MacOS/N", "/a b/N.app/Contents"}, {"/usr/bin/navlume", ""},
        {"/opt/N.app/Contents/N", ""}, {"/.app/Contents/MacOS/N", ""}, {"N", ""},
        // The name's bounds: one letter at the root, none below a folder, no folder in front.
        {"/N.app/Contents/MacOS/N", "/N.app/Contents"}, {"/o/.app/Contents/MacOS/N", ""},
        {"N.app/Contents/MacOS/N", ""}, {"/o/N.app/Contents/MacOS/sub/N", ""}};
    const std::tuple<const char*, const char*, int64_t, const char*> items[] = {
        {"Q\tCmd+Q", "Q", kModifierCommand, "q"}, {"L\tx+f12", "L", kModifierFunctionKey, "\xEF\x9C\x8F"},
        {"O\tCtrl+Shift+F5", "O", kModifierControl | kModifierShift | kModifierFunctionKey, "\xEF\x9C\x88"},
        {"L\tF01", "L", kModifierFunctionKey, "\xEF\x9C\x84"},  // U+F704: F1
        {"N\tF0", "N", 0, "f0"}, {"B\tF13", "B", 0, "f13"}, {"B\tF1a\tC", "B", 0, "f1a"},
        {"&Save && Quit\tAlt+S", "Save  Quit", kModifierOption, "s"}};
    // clang-format on
    for (const auto& [executable, contents] : bundles)
        EXPECT_EQ(BundleContentsDirectory(executable), contents) << executable;
    for (const auto& [text, title, modifiers, key] : items) {
        const MenuItemText parsed = ParseMenuItemText(text);
        EXPECT_EQ(parsed.title, title) << text;
        EXPECT_EQ(parsed.modifiers, modifiers) << text;
        EXPECT_EQ(parsed.key, key) << text;
    }
}

TEST_F(EventsTest, MenuBarsTheApplicationMenuAndTheRequester) {
    PlatformWindow* window = Open(0, 0x44);
    EXPECT_EQ(platform.appMenuName, "Navlume");
    PlatformMenuBar* defaultBar = platform.installedMenuBar();
    ASSERT_NE(CreateMenuBar(0, window), 0);
    ASSERT_NE(CreateMenuBar(0, window), 0);  // replaces the first bar
    EXPECT_EQ(platform.menuBarCount(), 2u);
    EXPECT_NE(platform.installedMenuBar(), defaultBar);
    MemoryInjectFailures(1, 1);  // short of memory: no bar is made, none is left behind
    EXPECT_EQ(CreateMenuBar(2, window), 0);
    MemoryInjectFailures(0, 0);
    EXPECT_EQ(platform.menuBarCount(), 2u);
    const int64_t any = CreateMenuBar(-1, window);  // the next free number
    EXPECT_GT(any, 0);
    FreeMenu(any);
    ASSERT_NE(CreateMenuBar(0, window), 0);  // the bar the items below go to
    AddMenuItem(-1, "Quit\tCmd+Q");
    EXPECT_FALSE(platform.appMenuEnabled[0]);  // About waits for its own id
    AddMenuItem(-3, "About App");
    platform.chooseAppMenuItem(PlatformAppMenuItem::Preferences);  // still disabled
    platform.chooseAppMenuItem(PlatformAppMenuItem::About);
    platform.chooseAppMenuItem(PlatformAppMenuItem::Quit);
    EXPECT_EQ(TakeAll(), (Events{{MenuItemChosen, -3, 0}, {MenuItemChosen, -1, 0}}));
    Open(1, 0x4 | 0x2000);
    PlatformMenuBar* before = platform.installedMenuBar();
    CreateMenuBar(1, WindowHandle(1));  // waits until its window is key
    EXPECT_EQ(platform.installedMenuBar(), before);
    platform.makeKeyWindow(WindowHandle(1));
    EXPECT_NE(platform.installedMenuBar(), before);
    CloseWindowByNumber(1);  // frees its own bar only; window 0 is key again, with its bar
    EXPECT_EQ(platform.menuBarCount(), 2u);
    EXPECT_EQ(platform.installedMenuBar(), before);
    CloseWindowByNumber(-1);
    EXPECT_EQ(platform.installedMenuBar(), defaultBar);
    EXPECT_EQ(platform.menuBarCount(), 1u);
    ASSERT_NE(CreateMenuBar(5, nullptr), 0);  // a bar of no window ...
    FreeWindowMenu(nullptr);                  // ... is no window's bar
    EXPECT_EQ(platform.menuBarCount(), 2u);
    FreeMenu(5);
    EXPECT_EQ(platform.menuBarCount(), 1u);
    // Flags, answer, buttons, result; the key window gets the keyboard back after each.
    PlatformWindow* key = Open(2, 0x44);
    const std::tuple<int32_t, int64_t, size_t, int64_t> alerts[] = {
        {0, 6, 0, 0}, {1, 7, 2, 7}, {2, 2, 3, 2}, {3, 6, 3, 6}};
    for (const auto& [flags, answer, buttons, result] : alerts) {
        platform.answerNextAlert(answer);
        EXPECT_EQ(ShowMessageBox("Invalid Port", "Caf\xE9", flags), result) << flags;
        EXPECT_EQ(platform.alerts.back().buttons.size(), buttons) << flags;
        EXPECT_EQ(platform.keyWindow(), key);
    }
    EXPECT_EQ(platform.alerts.back().text, "Caf\xC3\xA9");
}

// Counts posts and keeps each one open a little, so that a shut-down overlaps them.
struct SlowPostingPlatform : FakePlatform {
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
    std::jthread worker([](std::stop_token stop) {
        while (!stop.stop_requested())
            PostToGuiThread([] {});
    });
    while (platform.posts < 20)
        std::this_thread::yield();
    SetUiPlatform(nullptr);
    EXPECT_EQ(platform.inside, 0);
    const int posts = platform.posts;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(platform.posts, posts);
}

namespace fs = std::filesystem;
using Convention = UserFolderConvention;

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// "@" is the scratch folder, holding "home"; a null home or XDG_CONFIG_HOME is unset. The plain
// file holds "mine", madeFolder is 0755; the chosen one ("": stay) and folders on its way get mode.
struct Row {
    const char* name;
    bool contentsWritable;
    const char *home, *xdgConfigHome;
    Convention convention;
    const char *plainFile, *madeFolder, *chosen;
    mode_t mode;
};

std::string At(const ScratchDirectory& scratch, const char* path) {
    return path[0] == '@' ? scratch.Path() + (path + 1) : path;
}

TEST(UserFolderTest, WhereTheFilesGo) {
    // clang-format off
    const Row rows[] = {
        {"a writable bundle keeps them", true, "@/home", "@/config", Convention::Xdg, nullptr, nullptr, "", 0},
        {"read-only bundle: an absolute XDG_CONFIG_HOME", false, "@/home", "@/config", Convention::Xdg, nullptr, nullptr, "@/config/navlume", 0700},
        {"a relative XDG_CONFIG_HOME is ignored", false, "@/home", "config", Convention::Xdg, nullptr, nullptr, "@/home/.config/navlume", 0700},
        {"an empty XDG_CONFIG_HOME is ignored", false, "@/home/", "", Convention::Xdg, nullptr, nullptr, "@/home/.config/navlume", 0700},
        {"no HOME stays", false, nullptr, nullptr, Convention::Xdg, nullptr, nullptr, "", 0},
        {"a relative HOME stays", false, "home", nullptr, Convention::Xdg, nullptr, nullptr, "", 0},
        {"no HOME, but an absolute XDG_CONFIG_HOME", false, nullptr, "@/config/", Convention::Xdg, nullptr, nullptr, "@/config/navlume", 0700},
        {"a plain file as the folder: nothing stored", false, "@/home", nullptr, Convention::Xdg, "@/home/.config/navlume", nullptr, "", 0},
        {"a plain file as a parent: nothing stored", false, "@/home", nullptr, Convention::Xdg, "@/home/.config", nullptr, "", 0},
        {"an existing folder keeps its mode", false, "@/home", nullptr, Convention::Xdg, nullptr, "@/home/.config/navlume", "@/home/.config/navlume", 0755},
        {"macOS: Application Support", false, "@/home", "@/config", Convention::MacOS, nullptr, nullptr, "@/home/Library/Application Support/Navlume", 0700},
        {"macOS: no HOME stays", false, nullptr, "@/config", Convention::MacOS, nullptr, nullptr, "", 0},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDirectory scratch;
        ASSERT_TRUE(scratch.Valid());
        fs::create_directories(scratch.File("home"));
        const std::string plain = row.plainFile ? At(scratch, row.plainFile) : "";
        if (!plain.empty()) {
            fs::create_directories(fs::path(plain).parent_path());
            WriteBytes(plain, "mine");
        }
        if (row.madeFolder) {
            fs::create_directories(At(scratch, row.madeFolder));
            chmod(At(scratch, row.madeFolder).c_str(), 0755);
        }
        const std::string home = row.home ? At(scratch, row.home) : "";
        const std::string config = row.xdgConfigHome ? At(scratch, row.xdgConfigHome) : "";
        const mode_t previousMask = umask(0277);  // narrow, yet the folders made must be usable
        const std::string chosen =
            UserFolderToEnter(row.contentsWritable, row.home ? home.c_str() : nullptr,
                              row.xdgConfigHome ? config.c_str() : nullptr, row.convention);
        umask(previousMask);
        EXPECT_EQ(chosen, At(scratch, row.chosen));
        EXPECT_TRUE(chosen.empty() || fs::is_directory(chosen));
        // Every folder made is on the way to the chosen one, with the mode; the row's own stay.
        for (const auto& entry : fs::recursive_directory_iterator(scratch.Path())) {
            const std::string path = entry.path().string();
            if (path == scratch.File("home") || (plain + "/").starts_with(path + "/")) continue;
            EXPECT_TRUE(entry.is_directory() && (chosen + "/").starts_with(path + "/")) << path;
            EXPECT_TRUE((row.madeFolder != nullptr && path != chosen) || ModeOf(path) == row.mode)
                << path << " " << ModeOf(path);
        }
        EXPECT_TRUE(plain.empty() || ReadBytes(plain) == "mine");
    }
}

// Outside any bundle the user's folder, in a writable one its Contents; HOME from the platform.
TEST(UserFolderTest, TheStartUpEntersTheChosenFolder) {
    ScratchDirectory scratch;
    ASSERT_TRUE(scratch.Valid());
    const fs::path contents = fs::path(scratch.Path()) / "N.app/Contents";
    fs::create_directories(contents / "MacOS");
    const std::string previous = fs::current_path().string();
    const std::pair<std::string, fs::path> starts[] = {
        {"/usr/bin/navlume", fs::path(scratch.Path()) / "home/.config/navlume"},
        {(contents / "MacOS/N").string(), contents},
    };
    for (const auto& [executable, expected] : starts) {
        FakePlatform platform;
        platform.executable = executable;
        platform.home.home = scratch.File("home");
        SetUiPlatform(&platform);
        StartLayers();
        EXPECT_EQ(fs::current_path(), fs::canonical(expected)) << executable;
        EndLayers(LayerEnd::Everything);
        SetUiPlatform(nullptr);
        fs::current_path(previous);
    }
}

}  // namespace
