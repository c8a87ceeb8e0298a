// The user's control over tracking: the handlers bound to the Start/Stop button, the server
// and port fields and the distance track bar. They run on the GUI thread while the layer posts
// their gadget's event.
//
// The control side owns the worker thread: it starts it, never runs two at once, and at
// shutdown stops it and waits for it before any layer ends.
#pragma once

#include <cstdint>

// The port range that Start accepts.
constexpr int64_t kLowestPort = 1;
constexpr int64_t kHighestPort = 65535;

int64_t StartButtonHandler();
int64_t ServerFieldHandler();
int64_t PortFieldHandler();
int64_t ZoomBarHandler();

// Clears the run flag, ends a script run or connect in progress and waits (at most about half
// a second) until the worker has ended. True when no worker runs any more.
bool StopTrackingAndWait();
// True while a worker thread runs.
bool TrackingWorkerRunning();
