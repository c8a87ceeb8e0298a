#include <new>

#include "ui/gadget_kinds.h"

namespace {

// The only height at which a button gets the rounded bezel (and may be the default button).
constexpr int64_t kRoundedButtonHeight = 25;

}  // namespace

void KyButtonGadgetFunctions::ResizeGadget(int64_t x, int64_t y, int64_t width, int64_t height) {
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr || Gadget == nullptr) return;
    const double newHeight = height != -65535 ? static_cast<double>(height)
                                              : platform->viewFrame(Gadget->container).height;
    if (newHeight != static_cast<double>(kRoundedButtonHeight) &&
        platform->isButtonRounded(Gadget->view)) {
        platform->setButtonRounded(Gadget->view, false);
    }
    KyGadgetFunctions::ResizeGadget(x, y, width, height);
}

int64_t CreateButtonGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                           const char* text, int32_t flags) {
    const PlatformString title = TextToPlatformString(text);
    return CreateGadget(
        new (std::nothrow) KyButtonGadgetFunctions, number, kGadgetButton, PlatformViewKind::Button,
        x, y, width, height, flags,
        [&](UiPlatform& platform, KyGadgetFunctions& functions, PlatformView* view) {
            functions.SetGadgetText(title);
            if ((flags & kButtonToggle) != 0) platform.setButtonToggles(view, true);
            if ((flags & kButtonLeft) != 0) {
                platform.setViewAlignment(view, PlatformTextAlignment::Left);
            } else if ((flags & kButtonRight) != 0) {
                platform.setViewAlignment(view, PlatformTextAlignment::Right);
            }
            platform.setViewBordered(view, true);
            const bool rounded = height == kRoundedButtonHeight;
            platform.setButtonRounded(view, rounded);
            if (rounded && (flags & kButtonDefault) != 0) platform.setButtonDefault(view, true);
        });
}
