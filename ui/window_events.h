// KyWindowEvents: a window's delegate. The platform binding reports the window's
// notifications here; each becomes a layer event for the window's number.
#pragma once

#include <cstdint>

#include "ui/platform_interface.h"

class KyWindowEvents {
  public:
    // Connects the delegate to its window and number and installs it as the window's delegate.
    void connect(PlatformWindow* window, int64_t windowID);
    int64_t windowID() const { return WindowID; }
    PlatformWindow* window() const { return WindowInstance; }

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
    PlatformWindow* WindowInstance = nullptr;
    int64_t WindowID = -1;
    int32_t ZoomEvent = 0;
};
