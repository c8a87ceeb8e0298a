#include <cstdint>

#include "runtime/network.h"

int64_t MakeIPv4Address(int32_t a, int32_t b, int32_t c, int32_t d) {
    // Unsigned arithmetic wraps by definition; the parts are deliberately not masked.
    const uint32_t sum = static_cast<uint32_t>(a) + (static_cast<uint32_t>(b) << 8) +
                         (static_cast<uint32_t>(c) << 16) + (static_cast<uint32_t>(d) << 24);
    return static_cast<int32_t>(sum);
}
