// Conversions between the interface's values and Qt's: UTF-8 strings and rectangles.
#pragma once

#include <QRect>
#include <QString>
#include <cmath>
#include <string>

#include "ui/platform_interface.h"

inline QString ToQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToStdString(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<size_t>(utf8.size()));
}

// A coordinate rounded to whole pixels; NaN and values far outside any screen are clamped so
// that the conversion to int is always defined.
inline int ToPixel(double value) {
    // Far beyond any screen, and small enough that sums of two stay inside int.
    constexpr double kPixelLimit = 1.0e8;
    if (std::isnan(value)) return 0;
    if (value > kPixelLimit) value = kPixelLimit;
    if (value < -kPixelLimit) value = -kPixelLimit;
    return static_cast<int>(std::lround(value));
}

// Sizes below zero become zero.
inline QRect ToQRect(const PlatformRect& rect) {
    const int width = ToPixel(rect.width);
    const int height = ToPixel(rect.height);
    return QRect(ToPixel(rect.x), ToPixel(rect.y), width < 0 ? 0 : width, height < 0 ? 0 : height);
}

inline PlatformRect ToPlatformRect(const QRect& rect) {
    return {static_cast<double>(rect.x()), static_cast<double>(rect.y()),
            static_cast<double>(rect.width()), static_cast<double>(rect.height())};
}
