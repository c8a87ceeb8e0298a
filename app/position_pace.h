// How long the tracking worker may leave a chatty connection alone after a receive that brought
// a position. A receiver gives its positions at a steady pace (1 to 10 a second) with the rest
// of its sentences in between; once that pace is known, the worker can sleep until shortly
// before the next position is due and take everything in between in one wake-up.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

class PositionPace {
  public:
    using Clock = std::chrono::steady_clock;

    // The margin before the next position is due: room for a receiver whose pace wavers. A
    // position that comes earlier still waits at most until the gap ends.
    static constexpr int32_t kWakeBeforeNextMs = 30;
    // A pace slower than this is not waited out: the shortest gap is used then.
    static constexpr int32_t kLongestGapMs = 1000;

    // shortestGapMs: the gap while the pace is unknown, and the least one ever.
    explicit PositionPace(int32_t shortestGapMs) : shortestGapMs_(shortestGapMs) {}

    // A receive that brought positions (one, or more that had waited) came in at when. More
    // than one means they now come faster than the gap assumed: the pace is learnt anew.
    void PositionsAt(Clock::time_point when, size_t positions);

    // The gap, in milliseconds, after the receive of the latest position.
    int32_t GapAfterPosition() const;

  private:
    int32_t shortestGapMs_;
    Clock::time_point last_{};
    int64_t previousMs_ = 0;  // the span before the latest one
    int64_t paceMs_ = 0;      // the shorter of the last two spans
    int spans_ = 0;           // spans seen so far, counted up to 2
    bool seenAny_ = false;
};
