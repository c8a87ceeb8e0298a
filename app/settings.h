// The settings kept in "settings.cfg": the server address, the port and the viewing distance.
// GUI thread only.
#pragma once

// Loads the settings into the window's gadgets; on the first run (no file that can be opened)
// creates the file with the gadgets' built-in values.
void LoadSettings();
// Writes the gadgets' current values into an existing settings file; creates none.
void SaveSettings();
