// The user's control over tracking: the handlers bound to the Start/Stop button, the server
// and port fields and the distance track bar. They run on the GUI thread while the layer posts
// their gadget's event.
//
// The control side owns the worker thread and the viewer thread: it starts them, never runs two
// workers at once, and stops a worker by clearing the run flag, raising TrackingWake and
// cancelling a script run, in that order, in one place, without waiting: a Start that comes
// while the previous worker is still ending begins once that worker has ended. At shutdown
// both threads end before any layer does.
#pragma once

#include <cstdint>

#include "app/tracking_worker.h"

// The port range that Start accepts.
constexpr int64_t kLowestPort = 1;
constexpr int64_t kHighestPort = 65535;

int64_t StartButtonHandler();
int64_t ServerFieldHandler();
int64_t PortFieldHandler();
int64_t ZoomBarHandler();

// Shutdown: stops the worker and the viewer thread (ending a connect, pause or script run in
// progress) and waits, about half a second at most, for both. True when neither runs any more.
bool StopTrackingAndWait();
// True while a tracking run is under way: a worker thread runs, or a Start waits for the
// previous worker to end.
bool TrackingWorkerRunning();
// The time limits that the next runs get (GUI thread). The program keeps the defaults; tests
// shorten them so that silence and reconnection take milliseconds.
void SetTrackingLimits(const TrackingLimits& limits);
