#include <new>

#include "ui/gadget_kinds.h"

namespace {

constexpr int32_t kMinimumAttribute = 1;
constexpr int32_t kMaximumAttribute = 2;

// One tick per integer value of the range; an inverted range has none.
int64_t TickCount(double minimum, double maximum) {
    const int64_t count = TruncateToInt64(maximum - minimum + 1);
    return count > 0 ? count : 0;
}

}  // namespace

void KyTrackBarGadgetFunctions::SetGadgetAttribute(int32_t attribute, int64_t value) {
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr || Gadget == nullptr) return;
    if (attribute != kMinimumAttribute && attribute != kMaximumAttribute) return;
    PlatformView* view = Gadget->view;
    double minimum = platform->sliderMinimum(view);
    double maximum = platform->sliderMaximum(view);
    (attribute == kMinimumAttribute ? minimum : maximum) = static_cast<double>(value);
    platform->setSliderRange(view, minimum, maximum);
    if ((Gadget->flags & kTrackBarTicks) != 0) {
        platform->setSliderTickMarks(view, TickCount(minimum, maximum), true);
    }
}

int64_t KyTrackBarGadgetFunctions::GetGadgetAttribute(int32_t attribute) {
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr || Gadget == nullptr) return 0;
    if (attribute == kMinimumAttribute)
        return TruncateToInt64(platform->sliderMinimum(Gadget->view));
    if (attribute == kMaximumAttribute)
        return TruncateToInt64(platform->sliderMaximum(Gadget->view));
    return 0;
}

// Vertical or horizontal follows from the frame (the platform decides); no flag but the tick
// flag changes anything.
int64_t CreateTrackBarGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                             int32_t minimum, int32_t maximum, int32_t flags) {
    return CreateGadget(new (std::nothrow) KyTrackBarGadgetFunctions, number, kGadgetTrackBar,
                        PlatformViewKind::Slider, x, y, width, height, flags,
                        [&](UiPlatform& platform, KyGadgetFunctions&, PlatformView* view) {
                            platform.setSliderRange(view, minimum, maximum);
                            if ((flags & kTrackBarTicks) != 0) {
                                platform.setSliderTickMarks(view, TickCount(minimum, maximum),
                                                            true);
                            }
                        });
}
