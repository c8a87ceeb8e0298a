// Starting and ending the runtime and interface layers, in the one order that the program and
// the test fixtures share.
#pragma once

// Starts every layer below the tracker, GUI thread, before anything else runs.
void StartLayers();

// How far EndLayers goes. A thread that could not be stopped may still use the tables, the
// strings and the gadgets: then only the libraries that own threads, files and connections end,
// and the rest stays for the process to end around it.
enum class LayerEnd { Everything, KeepTables };

void EndLayers(LayerEnd how);
