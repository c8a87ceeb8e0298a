#include "app/layers.h"

#include "runtime/list.h"
#include "runtime/network.h"
#include "runtime/preference_file.h"
#include "runtime/string_variable.h"
#include "runtime/temp_buffer.h"
#include "runtime/text_map.h"
#include "runtime/threads.h"
#include "ui/ui.h"

void StartLayers() {
    BringProcessToFront();
    EnterBundleDirectory();
    StringSystemInit();
    ListLibraryInit();
    GadgetSystemInit();
    WindowLibraryInit();
    MenuLibraryInit();
    ApplicationInit();
    MapLibraryInit();
    EventQueueInit();
    PreferenceLibraryInit();
    ThreadLibraryInit();
    TextModeInit();
}

void EndLayers(LayerEnd how) {
    ThreadLibraryEnd();
    PreferenceLibraryEnd();
    NetworkObjectsEnd();
    if (how == LayerEnd::KeepTables) return;
    // The windows, their gadgets and menus go before the queue and tables they live in.
    WindowLibraryEnd();
    GadgetLibraryEnd();
    MenuLibraryEnd();
    EventQueueEnd();
    ApplicationEnd();
    StringSystemEnd();
}
