#include "app/program_values.h"

std::atomic<int64_t> TrackingRunning{0};
WakeSignal TrackingWake;
int64_t QuitRequested = 0;
char* SettingsFile = nullptr;
char* LineBreak = nullptr;
