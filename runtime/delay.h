// Millisecond delays for the calling thread.
#pragma once

#include <time.h>

#include <cstdint>

// The interval DelayMilliseconds asks for: milliseconds / 1000 seconds and the remainder in
// nanoseconds, both truncated toward zero (1500 gives 1 s and 500000000 ns).
timespec DelayInterval(int32_t milliseconds);

// Sleeps for about that many milliseconds with one nanosleep. A negative count returns at once;
// a signal that interrupts the sleep ends it early (the rest is not slept).
void DelayMilliseconds(int32_t milliseconds);
