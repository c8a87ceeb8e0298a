#include "ui/message_box.h"

#include <vector>

#include "ui/platform_interface.h"
#include "ui/platform_string.h"
#include "ui/window_table.h"

int64_t ShowMessageBox(const char* title, const char* text, int32_t flags) {
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr) return 0;
    PlatformWindow* keyWindow = platform->keyWindow();
    const int64_t keyNumber = keyWindow != nullptr ? WindowNumberOf(keyWindow) : -1;

    std::vector<PlatformAlertButton> buttons;
    if ((flags & (kMessageBoxYesNo | kMessageBoxYesNoCancel)) != 0) {
        buttons.push_back({"Yes", kResultYes});
        buttons.push_back({"No", kResultNo});
        if ((flags & kMessageBoxYesNoCancel) != 0) buttons.push_back({"Cancel", kResultCancel});
    }
    int64_t result =
        platform->runAlert(TextToPlatformString(title), TextToPlatformString(text), buttons);
    if (buttons.empty()) result = 0;

    // The key window may have closed while the alert ran; only a window that still exists
    // gets the keyboard back.
    if (keyWindow != nullptr && keyNumber != -1 && WindowHandle(keyNumber) == keyWindow) {
        platform->makeKeyWindow(keyWindow);
    }
    return result;
}

int64_t ShowMessageBox0(const char* title, const char* text) {
    return ShowMessageBox(title, text, 0);
}
