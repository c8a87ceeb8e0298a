#include "runtime/delay.h"

#include <time.h>

namespace {

// milliseconds / 1000 seconds and the remainder in nanoseconds, both truncated toward zero
// (1500 gives 1 s and 500000000 ns).
timespec DelayInterval(int32_t milliseconds) {
    timespec interval{};
    interval.tv_sec = milliseconds / 1000;
    interval.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    return interval;
}

}  // namespace

void DelayMilliseconds(int32_t milliseconds) {
    // The system refuses a negative interval anyway; saying so keeps the call obviously cheap.
    if (milliseconds < 0) return;
    timespec interval = DelayInterval(milliseconds);
    nanosleep(&interval, &interval);
}
