// Numbered windows and their delegate. WindowHandle and WindowNumberOf come with the window
// table. GUI thread only, except SetWindowTitle.
#pragma once

#include <cstdint>

#include "ui/platform_interface.h"
#include "ui/window_table.h"

// Window flags.
enum WindowFlag : int32_t {
    kWindowInvisible = 0x1,
    kWindowSizeGadget = 0x2,
    kWindowSystemMenu = 0x4,
    kWindowTitleBar = 0x8,
    kWindowTitleCloseResize = 0x10,
    kWindowMinimizeGadget = 0x20,
    kWindowScreenCentered = 0x40,
    kWindowBorderless = 0x80,
    kWindowParentCentered = 0x100,
    kWindowMaximize = 0x200,
    kWindowMinimize = 0x400,
    kWindowTitled = 0x800,
    kWindowNoGadgets = 0x1000,
    kWindowNoActivate = 0x2000,
};
// A coordinate that asks for a centred window.
constexpr int32_t kWindowCentered = -65535;

// Creates the window table and the gadget-list stack. Called once at start-up.
void WindowLibraryInit();
void WindowLibraryEnd();
// The platform style for window flags.
PlatformWindowStyle WindowStyleForFlags(int32_t flags);
// Opens window number (-1: a new number) with a content area of width × height whose frame's
// top-left corner is at x, y from the main screen's top-left. Returns the new number for -1,
// otherwise the native window as a non-zero value; 0 when the platform refuses the window.
int64_t OpenMainWindow(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                       const char* title, int32_t flags = kWindowSystemMenu,
                       PlatformWindow* parent = nullptr);
// Sets the title of window number. Any thread may call it: from another thread the title waits
// for the GUI thread, which shows the last one set (a widget is touched only there).
void SetWindowTitle(int64_t number, const char* title);
// Closes window number; -1 closes every window.
void CloseWindowByNumber(int64_t number);

// KyWindowEvents: a window's delegate. The platform binding reports the window's
// notifications here; each becomes a layer event for the window's number.
class KyWindowEvents {
  public:
    // Connects the delegate to its window and number and installs it as the window's delegate.
    void connect(PlatformWindow* window, int64_t windowID);
    int64_t windowID() const { return windowID_; }
    PlatformWindow* window() const { return windowInstance_; }

    // The close button: posts CloseRequested and answers false, so the window stays open.
    bool windowShouldClose();
    // The window is closing: drops its gadget list, queued events, menu bar and record, then
    // deletes this delegate.
    void windowWillClose();
    void windowDidResize();
    void windowDidMove();
    void windowDidBecomeKey();
    void windowDidResignKey();
    void windowDidMiniaturize();
    void windowDidDeminiaturize();
    // A zoom to proposed is about to happen: remembers whether it enlarges the window, so the
    // resize that follows reports it. Answers true.
    bool windowShouldZoom(PlatformRect proposed);
    // Clicks in the content area: left (1 single, 2 double) and right.
    void contentMouseUp(int32_t clickCount);
    void contentRightMouseUp(int32_t clickCount);

  private:
    PlatformWindow* windowInstance_ = nullptr;
    int64_t windowID_ = -1;
    int32_t zoomEvent_ = 0;
};
