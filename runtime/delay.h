// Millisecond delays for the calling thread.
#pragma once

#include <cstdint>

// Sleeps for about that many milliseconds with one nanosleep. A negative count returns at once;
// a signal that interrupts the sleep ends it early (the rest is not slept).
void DelayMilliseconds(int32_t milliseconds);
