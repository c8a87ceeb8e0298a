// The tracker's program-wide values and the numbers of its window, menu and gadgets.
#pragma once

#include <atomic>
#include <cstdint>

// 1 while tracking; 0 asks the worker to stop. The GUI thread writes it, the worker reads it
// once per cycle.
extern std::atomic<int64_t> TrackingRunning;
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
