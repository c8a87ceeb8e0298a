#include <new>

#include "ui/gadget_kinds.h"

void KyTextGadgetFunctions::DisableGadget(int32_t state) {
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr || Gadget == nullptr) return;
    platform->setViewTextGreyed(Gadget->view, state != 0);
}

void KyTextGadgetFunctions::SetGadgetState(int64_t) {}

int64_t KyTextGadgetFunctions::GetGadgetState() {
    return 0;
}

int64_t CreateTextGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                         const char* text, int32_t flags) {
    const PlatformString title = TextToPlatformString(text);
    return CreateGadget(
        new (std::nothrow) KyTextGadgetFunctions, number, kGadgetText, PlatformViewKind::Label, x,
        y, width, height, flags,
        [&](UiPlatform& platform, KyGadgetFunctions& functions, PlatformView* view) {
            functions.SetGadgetText(title);
            platform.setViewEditable(view, false);
            platform.setViewBordered(view, (flags & kTextBorder) != 0);
            if ((flags & kTextRight) != 0) {
                platform.setViewAlignment(view, PlatformTextAlignment::Right);
            } else if ((flags & kTextCenter) != 0) {
                platform.setViewAlignment(view, PlatformTextAlignment::Center);
            }
        });
}

int64_t CreateTextGadget0(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          const char* text) {
    return CreateTextGadget(number, x, y, width, height, text, 0);
}
