#include "ui/gadget_creation.h"

#include "ui/gadget_list.h"

int64_t CreateGadget(
    KyGadgetFunctions* functions, int64_t number, int32_t type, PlatformViewKind viewKind,
    int32_t x, int32_t y, int32_t width, int32_t height, int32_t flags,
    const std::function<void(UiPlatform&, KyGadgetFunctions&, PlatformView*)>& kindSettings) {
    UiPlatform* platform = CurrentUiPlatform();
    if (functions == nullptr) return 0;
    if (platform == nullptr) {
        delete functions;
        return 0;
    }
    // The view reports to its functions object from birth, so that object comes first.
    const PlatformRect frame{static_cast<double>(x), static_cast<double>(y),
                             static_cast<double>(width), static_cast<double>(height)};
    PlatformView* view =
        platform->createView(KyGadgetList::currentWindow(), viewKind, frame, functions);
    if (view == nullptr) {
        delete functions;
        return 0;
    }
    if (functions->setup(number, type, view, view, flags) == nullptr) {
        // The view's end deletes its functions object.
        platform->removeView(view);
        return 0;
    }
    kindSettings(*platform, *functions, view);
    functions->refreshSnapshot();
    return number == -1 ? functions->GadgetID
                        : static_cast<int64_t>(reinterpret_cast<intptr_t>(view));
}
