// Floating-point platform values (frames, slider bounds) as integers.
#pragma once

#include <cmath>
#include <cstdint>

// Truncated towards zero; NaN gives 0 and values no 64-bit integer holds are clamped.
inline int64_t TruncateToInt64(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775807.0) return INT64_MAX;
    if (value <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(value);
}
