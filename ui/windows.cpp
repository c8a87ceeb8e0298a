#include "ui/windows.h"

#include <mutex>
#include <string>
#include <unordered_map>

#include "ui/application.h"
#include "ui/event_queue.h"
#include "ui/gadget_list.h"
#include "ui/menus.h"
#include "ui/platform_string.h"

namespace {

// While every window closes, no window is handed the keyboard.
bool closingAll = false;

// Titles set from other threads that wait for the GUI thread, by window number. A number is
// present while its apply task is queued; later sets only replace the text.
std::mutex titleLock;
std::unordered_map<int64_t, std::string> waitingTitles;

void ShowTitle(int64_t number, const std::string& title) {
    UiPlatform* platform = CurrentUiPlatform();
    PlatformWindow* window = WindowHandle(number);
    if (platform != nullptr && window != nullptr) {
        platform->setWindowTitle(window, TextToPlatformString(title.c_str()));
    }
}

// GUI thread: shows the title that waits for the window, if one still does.
void ShowWaitingTitle(int64_t number) {
    std::string title;
    {
        std::lock_guard<std::mutex> guard(titleLock);
        const auto waiting = waitingTitles.find(number);
        if (waiting == waitingTitles.end()) return;
        title = std::move(waiting->second);
        waitingTitles.erase(waiting);
    }
    ShowTitle(number, title);
}

bool HasAny(int32_t flags, int32_t bits) {
    return (flags & bits) != 0;
}

// The content rectangle in screen coordinates for a frame whose top-left is at x, y: the
// decorations (title bar, borders) sit between the frame's corner and the content area.
PlatformRect ContentRect(UiPlatform& platform, int32_t x, int32_t y, int32_t width, int32_t height,
                         PlatformWindowStyle style) {
    const PlatformRect size{0, 0, static_cast<double>(width), static_cast<double>(height)};
    const PlatformRect frame = platform.frameRectForContentRect(size, style);
    const PlatformRect screen = platform.mainScreenFrame();
    return {screen.x + x - frame.x, screen.y + y - frame.y, size.width, size.height};
}

// Flag 0x100: centred over the parent, or the key window when there is none.
void CenterOverReference(UiPlatform& platform, PlatformWindow* window, PlatformWindow* parent) {
    PlatformWindow* reference = parent != nullptr ? parent : platform.keyWindow();
    if (reference == nullptr || reference == window) return;
    const PlatformRect outer = platform.windowFrame(reference);
    PlatformRect frame = platform.windowFrame(window);
    frame.x = outer.x + (outer.width - frame.width) * 0.5;
    frame.y = outer.y + (outer.height - frame.height) * 0.5;
    platform.setWindowFrame(window, frame);
}

// When the closing key window had taken the keyboard from another window, gives it back if
// that window is still visible; otherwise to the first visible window.
void HandBackKeyboard(UiPlatform& platform, WindowRecord* closing) {
    if (closingAll || closing->previousKeyWindow == nullptr ||
        platform.keyWindow() != closing->window) {
        return;
    }
    PlatformWindow* firstVisible = nullptr;
    ObjectTable* table = WindowTable();
    ObjectIterateStart(table);
    int64_t number = 0;
    while (auto* record = static_cast<WindowRecord*>(ObjectIterateNext(table, &number))) {
        if (record == closing) continue;
        const bool visible = platform.isWindowVisible(record->window);
        if (record->window == closing->previousKeyWindow) {
            if (visible) {
                platform.makeKeyWindow(record->window);
                return;
            }
            break;
        }
        if (visible && firstVisible == nullptr) firstVisible = record->window;
    }
    if (firstVisible != nullptr) platform.makeKeyWindow(firstVisible);
}

void Post(int32_t kind, int64_t windowID) {
    PostEvent(kind, windowID, windowID, 0);
}

}  // namespace

void WindowLibraryInit() {
    WindowLibraryEnd();
    WindowTableCreate(CloseWindowByNumber);
}

void WindowLibraryEnd() {
    if (WindowTable() == nullptr) return;
    CloseWindowByNumber(-1);
    WindowTableFree();
    KyGadgetList::removeAll();
    std::lock_guard<std::mutex> guard(titleLock);
    waitingTitles.clear();
}

void SetWindowTitle(int64_t number, const char* title) {
    const std::string text = title != nullptr ? title : "";
    if (IsGuiThread()) {
        {
            // Newer than any title still waiting from another thread.
            std::lock_guard<std::mutex> guard(titleLock);
            waitingTitles.erase(number);
        }
        ShowTitle(number, text);
        return;
    }
    bool needsTask = false;
    {
        std::lock_guard<std::mutex> guard(titleLock);
        auto [waiting, added] = waitingTitles.try_emplace(number, text);
        if (!added) waiting->second = text;
        needsTask = added;
    }
    if (needsTask) PostToGuiThread([number] { ShowWaitingTitle(number); });
}

PlatformWindowStyle WindowStyleForFlags(int32_t flags) {
    PlatformWindowStyle style;
    if (HasAny(flags, kWindowBorderless)) return style;
    if (HasAny(flags, kWindowTitleCloseResize | kWindowMinimizeGadget)) flags |= kWindowSystemMenu;
    style.titled =
        HasAny(flags, kWindowSizeGadget | kWindowSystemMenu | kWindowTitleBar |
                          kWindowTitleCloseResize | kWindowMinimizeGadget | kWindowTitled);
    style.closable = HasAny(flags, kWindowSystemMenu);
    style.resizable = HasAny(flags, kWindowSizeGadget | kWindowTitleCloseResize | kWindowMaximize);
    style.miniaturizable = HasAny(flags, kWindowMinimizeGadget | kWindowMinimize);
    return style;
}

int64_t OpenMainWindow(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                       const char* title, int32_t flags, PlatformWindow* parent) {
    UiPlatform* platform = CurrentUiPlatform();
    ObjectTable* table = WindowTable();
    if (platform == nullptr || table == nullptr || number < -1) return 0;
    if (x == kWindowCentered || y == kWindowCentered) flags |= kWindowScreenCentered;

    const PlatformWindowStyle style = WindowStyleForFlags(flags);
    PlatformWindow* window =
        platform->createWindow(ContentRect(*platform, x, y, width, height, style), style);
    if (window == nullptr) return 0;

    // Opening a number that is in use closes the old window first (the table's routine).
    auto* record = static_cast<WindowRecord*>(ObjectGetOrCreate(table, number));
    if (record == nullptr) {
        platform->closeWindow(window);
        return 0;
    }
    const bool anyNumber = number == -1;
    if (anyNumber) number = ObjectNumberOf(record);

    auto* delegate = new KyWindowEvents();
    delegate->connect(window, number);
    *record = WindowRecord{window, nullptr, delegate, platform->keyWindow()};

    platform->setWindowTitle(window, TextToPlatformString(title));
    if (parent != nullptr) {
        record->parent = parent;
        if (!HasAny(flags, kWindowInvisible)) platform->addChildWindow(parent, window);
    }

    if (HasAny(flags, kWindowScreenCentered)) {
        platform->centerWindow(window);
    } else if (HasAny(flags, kWindowParentCentered)) {
        CenterOverReference(*platform, window, parent);
    }

    if (!HasAny(flags, kWindowInvisible)) {
        platform->showWindow(window, !HasAny(flags, kWindowNoActivate));
    }
    if (HasAny(flags, kWindowMinimize)) {
        platform->miniaturizeWindow(window);
    } else if (HasAny(flags, kWindowMaximize)) {
        platform->zoomWindow(window);
    }

    if (!HasAny(flags, kWindowNoGadgets)) KyGadgetList::setWindow(window);
    return anyNumber ? number : reinterpret_cast<int64_t>(window);
}

void CloseWindowByNumber(int64_t number) {
    UiPlatform* platform = CurrentUiPlatform();
    ObjectTable* table = WindowTable();
    if (table == nullptr || platform == nullptr) return;
    if (number == -1) {
        closingAll = true;
        ObjectReleaseAll(table);
        closingAll = false;
        return;
    }
    auto* record = static_cast<WindowRecord*>(ObjectFromNumber(table, number));
    if (record == nullptr) return;
    PlatformWindow* window = record->window;

    HandBackKeyboard(*platform, record);
    FreeWindowMenu(window);
    if (PlatformWindow* parent = platform->parentWindow(window)) {
        platform->removeChildWindow(parent, window);
    }
    // The platform calls the delegate's windowWillClose, which frees the record.
    platform->closeWindow(window);
}

// --- the delegate ---------------------------------------------------------------------

void KyWindowEvents::connect(PlatformWindow* window, int64_t windowID) {
    windowInstance_ = window;
    windowID_ = windowID;
    zoomEvent_ = 0;
    if (UiPlatform* platform = CurrentUiPlatform()) platform->setWindowDelegate(window, this);
    NameWindow(window, windowID);
}

bool KyWindowEvents::windowShouldClose() {
    Post(CloseRequested, windowID_);
    return false;
}

void KyWindowEvents::windowWillClose() {
    KyGadgetList::removeWindow(windowInstance_);
    if (UiPlatform* platform = CurrentUiPlatform()) {
        platform->setWindowDelegate(windowInstance_, nullptr);
    }
    ForgetWindowName(windowInstance_);
    PurgeWindowEvents(windowID_);
    if (ObjectTable* table = WindowTable()) ObjectRelease(table, windowID_);
    delete this;
}

void KyWindowEvents::windowDidResize() {
    // A zoom announced by windowShouldZoom is reported before the resize it causes.
    if (zoomEvent_ != 0) Post(zoomEvent_, windowID_);
    Post(WindowResized, windowID_);
    zoomEvent_ = 0;
}

void KyWindowEvents::windowDidMove() {
    Post(WindowMoved, windowID_);
}

void KyWindowEvents::windowDidBecomeKey() {
    InstallWindowMenu(windowInstance_, windowID_);
    Post(WindowBecameKey, windowID_);
}

void KyWindowEvents::windowDidResignKey() {
    Post(WindowResignedKey, windowID_);
}

void KyWindowEvents::windowDidMiniaturize() {
    Post(WindowMinimized, windowID_);
}

void KyWindowEvents::windowDidDeminiaturize() {
    UiPlatform* platform = CurrentUiPlatform();
    const bool zoomedResizable = platform != nullptr &&
                                 platform->isWindowResizable(windowInstance_) &&
                                 platform->isWindowZoomed(windowInstance_);
    Post(zoomedResizable ? WindowZoomedLarger : WindowRestored, windowID_);
}

bool KyWindowEvents::windowShouldZoom(PlatformRect proposed) {
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr) return true;
    const PlatformRect frame = platform->windowFrame(windowInstance_);
    const bool larger = proposed.width > frame.width || proposed.height > frame.height;
    zoomEvent_ = larger ? WindowZoomedLarger : WindowRestored;
    return true;
}

void KyWindowEvents::contentMouseUp(int32_t clickCount) {
    if (clickCount == 1) Post(MouseUp, windowID_);
    if (clickCount == 2) Post(DoubleMouseUp, windowID_);
}

void KyWindowEvents::contentRightMouseUp(int32_t clickCount) {
    if (clickCount == 1) Post(RightMouseUp, windowID_);
}
