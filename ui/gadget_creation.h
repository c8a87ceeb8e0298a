// The frame every gadget kind's creation follows.
#pragma once

#include <cstdint>
#include <functional>

#include "ui/gadget_functions.h"

// Creates a view of viewKind at (x, y, width, height) in the window that receives gadgets (none:
// a view in no window), registers functions (taken over; null fails) under number (-1: a new
// number) with the kind's type and flags, applies the kind's settings and records the first
// snapshot. Returns the new number for -1, otherwise the view as a non-zero value; 0 when the
// view or the record cannot be made.
int64_t CreateGadget(
    KyGadgetFunctions* functions, int64_t number, int32_t type, PlatformViewKind viewKind,
    int32_t x, int32_t y, int32_t width, int32_t height, int32_t flags,
    const std::function<void(UiPlatform&, KyGadgetFunctions&, PlatformView*)>& kindSettings);
