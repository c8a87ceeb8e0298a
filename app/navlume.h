// The tracker's main procedure: start-up, the event loop and shutdown. The window system must
// have been chosen (SetUiPlatform) before it runs.
#pragma once

#include <string>

// The web address at the head of the About requester's text.
constexpr const char* kAboutText = "https://navlume.example.org";
// Introduces the folder that holds settings.cfg and the KML files in the About requester.
constexpr const char* kAboutFolderText = "\n\nSettings and KML files are in:\n";

// The About requester's text: the web address, then the working directory, where the settings
// and the KML files are, so that the user can find Navlume.kml (Latin-1, as the layer's texts).
std::string AboutText();

// Runs the program to its end and returns the exit status, which is always 0.
int NavlumeMain();
