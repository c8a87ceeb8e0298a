// The tracking worker: keeps a connection to the server named in the window, cuts what arrives
// into whole NMEA lines, shows each newest position in the two labels and hands it to the globe
// viewer. A server that closes, fails, falls silent or is not up yet is tried again, with
// growing pauses, until the user stops tracking; the window title says what is going on.
//
// Threads: TrackingWorker runs on a thread of its own (one per tracking run), started and
// awaited by the tracking control. It sleeps in the kernel until bytes arrive, a pause or the
// silence limit ends, or TrackingWake is raised. It reads the run flag, the port and server
// fields, and sets the two labels and the window title, through the layer's thread-safe calls;
// it never touches a widget itself, never writes the flag and never runs a script itself (the
// viewer thread does).
#pragma once

#include <cstdint>

// The worker's time limits. The control side hands each run its limits; the program always
// uses these defaults, and only tests choose shorter ones.
struct TrackingLimits {
    int32_t silenceMs = 15000;      // a connection silent this long is given up and made anew
    int32_t connectMs = 10000;      // a host that never answers a connect is given up after this
    int32_t firstPauseMs = 500;     // the pause before the first reconnection; it doubles ...
    int32_t longestPauseMs = 8000;  // ... up to this one
};

// One tracking run with the limits at the address in the argument (0: the defaults), which
// must stay unchanged until the run has ended. Ends soon after TrackingRunning drops to 0 and
// TrackingWake is raised.
int64_t TrackingWorker(int64_t limits);

// The pause before the attempt-th reconnection (0 the first): the first pause, doubled up to
// the longest (0.5 s, then 1, 2, 4 and at most 8 s), each lengthened by up to a tenth at random
// so that many clients of one server spread.
int32_t ReconnectPauseMs(int32_t attempt, double spread, const TrackingLimits& limits = {});
