// Conversions between the interface's values and Qt's: UTF-8 strings and rectangles.
#pragma once

#include <QRect>
#include <QString>
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
int ToPixel(double value);

// Sizes below zero become zero.
QRect ToQRect(const PlatformRect& rect);

inline PlatformRect ToPlatformRect(const QRect& rect) {
    return {static_cast<double>(rect.x()), static_cast<double>(rect.y()),
            static_cast<double>(rect.width()), static_cast<double>(rect.height())};
}
