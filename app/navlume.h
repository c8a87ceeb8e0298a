// The tracker's main procedure: start-up, the event loop and shutdown. The window system must
// have been chosen (SetUiPlatform) before it runs.
#pragma once

// The text of the About requester.
constexpr const char* kAboutText = "https://navlume.example.org";

// Runs the program to its end and returns the exit status, which is always 0.
int NavlumeMain();
