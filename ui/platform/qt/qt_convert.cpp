#include "ui/platform/qt/qt_convert.h"

#include <cmath>

namespace {

// Far beyond any screen, and small enough that sums of two stay inside int.
constexpr double kPixelLimit = 1.0e8;

}  // namespace

int ToPixel(double value) {
    if (std::isnan(value)) return 0;
    if (value > kPixelLimit) value = kPixelLimit;
    if (value < -kPixelLimit) value = -kPixelLimit;
    return static_cast<int>(std::lround(value));
}

QRect ToQRect(const PlatformRect& rect) {
    const int width = ToPixel(rect.width);
    const int height = ToPixel(rect.height);
    return QRect(ToPixel(rect.x), ToPixel(rect.y), width < 0 ? 0 : width, height < 0 ? 0 : height);
}
