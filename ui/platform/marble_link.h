// Moving a Marble globe that runs beside the program. Marble takes its view over D-Bus, which
// only the window-system side speaks: where Qt has its D-Bus module, that side puts its mover in
// place at start-up (ui/platform/qt/qt_marble.h) and takes it away at the end. Until then, and
// where there is none, moving does nothing.
//
// Threads: MoveMarble may be called from any thread (the viewer thread calls it). SetMarbleMover
// waits until no call of the mover it replaces is in progress, so the old mover's owner may go
// once it returns.
#pragma once

#include <cstdint>

// A procedure that centres Marble on a position (degrees) and sets its zoom. It must return
// quickly whatever Marble does (it must not wait for Marble's answer). The tracker calls Marble
// through this type, so tests can put a recording mover in its place.
using MarbleMover = void (*)(double longitude, double latitude, int32_t zoom);

// Makes mover the one MoveMarble calls; null puts the one that does nothing back.
void SetMarbleMover(MarbleMover mover);

// Calls the mover in place.
void MoveMarble(double longitude, double latitude, int32_t zoom);

// Marble's zoom for a view from distanceMetres above the ground:
// round(200 × ln(6378000 × 0.4 / (distance in km × tan 55°))), so that Marble's view matches the
// distance the track bar gives the other viewers; 500 m gives 3018, 35000 m gives 2168. Distances
// below 1 m are taken as 1 m.
int32_t MarbleZoomForDistance(int64_t distanceMetres);
