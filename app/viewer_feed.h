// The globe viewer's side of tracking: one thread that hands the newest position to the viewers
// (the live KML file with the run's trail, at most twice a second; a Marble on the session bus;
// then the viewer script), so that a slow viewer never builds a backlog and never holds up the
// reader. When positions come faster than the viewer takes them, those in between are skipped;
// the last one always reaches it. The trail still gets every position, in order.
//
// Threads: the viewer thread lives from ViewerStart to ViewerStop and owns everything it builds.
// ViewerPost may be called from any thread (the worker). ViewerStart, ViewerOpen, ViewerClose and
// ViewerStop belong to the GUI thread (the tracking control). The viewer thread reads the track
// bar through the layer's thread-safe getter and never touches a widget.
#pragma once

#include <cstdint>
#include <span>

#include "app/rmc_sentence.h"
#include "ui/platform/script_runner.h"

// Starts the viewer thread unless it runs. False when it cannot be started.
bool ViewerStart();

// Lets positions in (a tracking run begins) and starts a new trail.
void ViewerOpen();

// Hands the positions of one receive to the viewer, oldest first: each joins the run's trail
// (when the viewer next takes a position), and the newest becomes the next one the viewer
// shows, replacing one that still waits. Ignored while the viewer is closed.
void ViewerPost(std::span<const Position> positions);

// Refuses positions from now on, drops the waiting one and ends a script run in progress
// (CancelScriptRuns). Never waits: the run ends on the viewer thread soon after. Script runs
// stay refused until the viewer thread takes the first position posted after the next
// ViewerOpen, so no position of a closed run reaches the viewer.
void ViewerClose();

// Ends the viewer thread (after ViewerClose) and waits at most waitMs for it. True when it has
// ended (or never ran).
bool ViewerStop(int32_t waitMs);

// How often the viewer rewrites the live position file at most; a position that comes sooner
// is written when the time is up, or when the viewer thread ends. The program keeps the
// default; tests that read the file after each position set 0.
constexpr int32_t kPositionFileEveryMs = 500;
void SetPositionFileEvery(int32_t milliseconds);

// The runner of the viewer scripts (RunAppleScript unless a test puts its own in place). Set it
// while no position waits.
void SetScriptRunner(ScriptRunner runner);
