// The tracking worker: reads the NMEA stream of the server named in the window, shows each
// "$GPRMC" position in the two labels and sends it to the globe viewer.
//
// Threads: TrackingWorker runs on a thread of its own (one per tracking run). It reads the run
// flag, the port and server fields and the track bar, and sets the two labels, through the
// layer's thread-safe gadget calls; it never touches a widget itself and never writes the flag.
#pragma once

#include <cstdint>

#include "ui/platform/script_runner.h"

// One tracking run; the argument is unused. Ends when TrackingRunning drops to 0 (at the end
// of the cycle in progress) or at once when the connection cannot be opened.
int64_t TrackingWorker(int64_t unused);

// Handles one received chunk: when it starts with "$GPRMC", sets the latitude label, then the
// longitude label, then composes the viewer script and runs it, waiting for the run to end.
void HandleChunk(const char* chunk);

// The runner of the viewer scripts (RunAppleScript unless a test puts its own in place). Set
// it before a worker starts.
void SetScriptRunner(ScriptRunner runner);
