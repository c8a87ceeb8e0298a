#include "ui/window_events.h"

#include "runtime/object_table.h"
#include "ui/event_queue.h"
#include "ui/gadget_list.h"
#include "ui/menus.h"
#include "ui/window_record.h"

namespace {

void Post(int32_t kind, int64_t windowID) {
    PostEvent(kind, windowID, windowID, 0);
}

}  // namespace

void KyWindowEvents::connect(PlatformWindow* window, int64_t windowID) {
    WindowInstance = window;
    WindowID = windowID;
    ZoomEvent = 0;
    if (UiPlatform* platform = CurrentUiPlatform()) platform->setWindowDelegate(window, this);
    RegisterWindowDelegate(window, this);
}

bool KyWindowEvents::windowShouldClose() {
    Post(CloseRequested, WindowID);
    return false;
}

void KyWindowEvents::windowWillClose() {
    KyGadgetList::removeWindow(WindowInstance);
    if (UiPlatform* platform = CurrentUiPlatform()) {
        platform->setWindowDelegate(WindowInstance, nullptr);
    }
    UnregisterWindowDelegate(WindowInstance);
    PurgeWindowEvents(WindowID);
    if (ObjectTable* table = WindowTable()) ObjectRelease(table, WindowID);
    delete this;
}

void KyWindowEvents::windowDidResize() {
    // A zoom announced by windowShouldZoom is reported before the resize it causes.
    if (ZoomEvent != 0) Post(ZoomEvent, WindowID);
    Post(WindowResized, WindowID);
    ZoomEvent = 0;
}

void KyWindowEvents::windowDidMove() {
    Post(WindowMoved, WindowID);
}

void KyWindowEvents::windowDidBecomeKey() {
    InstallWindowMenu(WindowInstance, WindowID);
    Post(WindowBecameKey, WindowID);
}

void KyWindowEvents::windowDidResignKey() {
    Post(WindowResignedKey, WindowID);
}

void KyWindowEvents::windowDidMiniaturize() {
    Post(WindowMinimized, WindowID);
}

void KyWindowEvents::windowDidDeminiaturize() {
    UiPlatform* platform = CurrentUiPlatform();
    const bool zoomedResizable = platform != nullptr &&
                                 platform->isWindowResizable(WindowInstance) &&
                                 platform->isWindowZoomed(WindowInstance);
    Post(zoomedResizable ? WindowZoomedLarger : WindowRestored, WindowID);
}

bool KyWindowEvents::windowShouldZoom(PlatformRect proposed) {
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr) return true;
    const PlatformRect frame = platform->windowFrame(WindowInstance);
    const bool larger = proposed.width > frame.width || proposed.height > frame.height;
    ZoomEvent = larger ? WindowZoomedLarger : WindowRestored;
    return true;
}

void KyWindowEvents::contentMouseUp(int32_t clickCount) {
    if (clickCount == 1) Post(MouseUp, WindowID);
    if (clickCount == 2) Post(DoubleMouseUp, WindowID);
}

void KyWindowEvents::contentRightMouseUp(int32_t clickCount) {
    if (clickCount == 1) Post(RightMouseUp, WindowID);
}
