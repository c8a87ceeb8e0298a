#include "app/position_pace.h"

#include <algorithm>

void PositionPace::PositionsAt(Clock::time_point when, size_t positions) {
    if (positions > 1) spans_ = 0;
    if (seenAny_ && positions == 1) {
        const int64_t spanMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(when - last_).count();
        // The shorter of the last two spans: a fix the receiver missed doubles one span and must
        // not make the worker sleep through the next position.
        paceMs_ = spans_ > 0 ? std::min(spanMs, previousMs_) : spanMs;
        previousMs_ = spanMs;
        if (spans_ < 2) ++spans_;
    }
    seenAny_ = true;
    last_ = when;
}

int32_t PositionPace::GapAfterPosition() const {
    // One span alone may be a position that came late; two make a pace.
    if (spans_ < 2) return shortestGapMs_;
    const int64_t untilNext = paceMs_ - kWakeBeforeNextMs;
    if (untilNext > kLongestGapMs) return shortestGapMs_;
    return static_cast<int32_t>(std::max<int64_t>(shortestGapMs_, untilNext));
}
