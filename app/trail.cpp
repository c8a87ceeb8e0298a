#include "app/trail.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

namespace {

constexpr double kEarthRadiusMetres = 6371008.8;  // the mean radius
constexpr int kFallbackDecimals = 9;

// Appends text to point's tuple; false when it does not fit.
bool AppendToTuple(TrailPoint& point, std::string_view text) {
    if (point.length + text.size() > TrailPoint::kTupleCapacity) return false;
    std::memcpy(point.tuple + point.length, text.data(), text.size());
    point.length = static_cast<uint8_t>(point.length + text.size());
    return true;
}

void AppendNumber(TrailPoint& point, double value) {
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value,
                                      std::chars_format::fixed, kFallbackDecimals);
    AppendToTuple(point, std::string_view(digits, result.ptr - digits));
}

// Label texts are decimal numbers; anything else (never from the RMC judge) is not copied into
// the file as it is.
bool IsNumberText(std::string_view text) {
    return !text.empty() && std::ranges::all_of(text, [](char c) {
        return (c >= '0' && c <= '9') || c == '.' || c == '-';
    });
}

double Radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}

}  // namespace

TrailPoint MakeTrailPoint(const Position& position) {
    TrailPoint point;
    point.latitude = position.latitudeDegrees;
    point.longitude = position.longitudeDegrees;
    if (IsNumberText(position.longitude) && IsNumberText(position.latitude) &&
        AppendToTuple(point, position.longitude) && AppendToTuple(point, ",") &&
        AppendToTuple(point, position.latitude) && AppendToTuple(point, ",0")) {
        return point;
    }
    // Both numbers lie within ±180, so nine decimals always fit.
    point.length = 0;
    AppendNumber(point, position.longitudeDegrees);
    AppendToTuple(point, ",");
    AppendNumber(point, position.latitudeDegrees);
    AppendToTuple(point, ",0");
    return point;
}

void Trail::Clear() {
    firstLine_ = 0;
    count_ = 0;
    firstByte_ = 0;
    byteCount_ = 0;
}

void Trail::Write(size_t at, const char* bytes, size_t length) {
    at %= kRingBytes;
    const size_t before = std::min(length, kRingBytes - at);
    std::memcpy(text_.get() + at, bytes, before);
    std::memcpy(text_.get(), bytes + before, length - before);
}

bool Trail::Add(const TrailPoint& point) {
    if (!text_) {
        text_.reset(new (std::nothrow) char[kRingBytes]);
        lengths_.reset(new (std::nothrow) uint8_t[kMostPoints]);
        if (!text_ || !lengths_) {
            text_.reset();
            return false;
        }
    }
    if (count_ > 0 && SurfaceDistanceMetres(lastLatitude_, lastLongitude_, point.latitude,
                                            point.longitude) < kLeastStepMetres) {
        return false;
    }
    if (count_ == kMostPoints) {
        const size_t oldest = lengths_[firstLine_];
        firstByte_ = (firstByte_ + oldest) % kRingBytes;
        byteCount_ -= oldest;
        firstLine_ = (firstLine_ + 1) % kMostPoints;
        --count_;
    }
    // At most kMostPoints lines of at most kLongestLine bytes: the ring never overflows.
    Write(firstByte_ + byteCount_, point.tuple, point.length);
    Write(firstByte_ + byteCount_ + point.length, "\n", 1);
    byteCount_ += point.length + 1u;
    lengths_[(firstLine_ + count_) % kMostPoints] = static_cast<uint8_t>(point.length + 1u);
    ++count_;
    lastLatitude_ = point.latitude;
    lastLongitude_ = point.longitude;
    return true;
}

void Trail::AppendLines(std::string& out) const {
    const size_t before = std::min(byteCount_, kRingBytes - firstByte_);
    out.append(text_.get() + firstByte_, before);
    out.append(text_.get(), byteCount_ - before);
}

double SurfaceDistanceMetres(double latitude1, double longitude1, double latitude2,
                             double longitude2) {
    // The haversine formula: well-conditioned for the short distances the trail compares.
    const double sinLatitude = std::sin(Radians(latitude2 - latitude1) / 2);
    const double sinLongitude = std::sin(Radians(longitude2 - longitude1) / 2);
    const double h = sinLatitude * sinLatitude + std::cos(Radians(latitude1)) *
                                                     std::cos(Radians(latitude2)) * sinLongitude *
                                                     sinLongitude;
    return 2 * kEarthRadiusMetres * std::asin(std::sqrt(std::min(1.0, h)));
}
