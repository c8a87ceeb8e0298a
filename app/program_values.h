// The tracker's program-wide values and the numbers of its window, menu and gadgets.
#pragma once

#include <atomic>
#include <cstdint>

#include "runtime/wake_signal.h"

// 1 while tracking; 0 asks the worker to stop. The GUI thread writes it, the worker reads it
// whenever it wakes.
extern std::atomic<int64_t> TrackingRunning;
// Raised by the GUI thread after it clears TrackingRunning, so that a worker sleeping in the
// kernel (waiting for bytes, a connect or a pause) wakes at once. Cleared before a worker starts.
extern WakeSignal TrackingWake;
// Set to 1 by the window's close button; the event loop ends when it is 1.
extern int64_t QuitRequested;
// "settings.cfg", relative to the working directory (the bundle's Contents folder).
extern char* SettingsFile;
// CR LF, the line separator of the viewer script.
extern char* LineBreak;

constexpr int64_t MainWindow = 0;
constexpr int64_t MainMenu = 0;
constexpr int64_t ZoomBar = 0;
constexpr int64_t LatitudeLabel = 1;
constexpr int64_t LongitudeLabel = 2;
constexpr int64_t StartButton = 3;
constexpr int64_t ServerField = 4;
constexpr int64_t PortField = 5;

constexpr int32_t AboutItem = -3;
constexpr int32_t QuitItem = -1;
