#include "app/navlume.h"

#include "app/main_window.h"
#include "app/program_values.h"
#include "app/settings.h"
#include "app/tracking_control.h"
#include "runtime/list.h"
#include "runtime/network.h"
#include "runtime/preference_file.h"
#include "runtime/string_variable.h"
#include "runtime/temp_buffer.h"
#include "runtime/text_map.h"
#include "runtime/threads.h"
#include "ui/ui.h"

namespace {

enum class LoopEnd { Quit, Close };

// Waits for events until the Quit entry or the close button ends the loop. Gadget events need
// nothing here: their handlers ran while the layer posted them.
LoopEnd RunEventLoop() {
    for (;;) {
        const int64_t kind = WaitEvent();
        if (kind == MenuItemChosen) {
            if (EventMenu() == QuitItem) return LoopEnd::Quit;
            if (EventMenu() == AboutItem) ShowMessageBox("About Navlume", kAboutText, 0);
        } else if (kind == CloseRequested) {
            QuitRequested = 1;
        }
        if (QuitRequested == 1) return LoopEnd::Close;
    }
}

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

void EndLayers() {
    ThreadLibraryEnd();
    PreferenceLibraryEnd();
    NetworkObjectsEnd();
    // The window, its gadgets and menus go before the queue and tables they live in.
    WindowLibraryEnd();
    GadgetLibraryEnd();
    MenuLibraryEnd();
    EventQueueEnd();
    ApplicationEnd();
    StringAssign(&LineBreak, nullptr);
    StringAssign(&SettingsFile, nullptr);
    StringSystemEnd();
}

}  // namespace

int NavlumeMain() {
    StartLayers();
    TrackingRunning.store(0);
    TrackingWake.Open();
    QuitRequested = 0;
    StringAssign(&LineBreak, "\r\n");
    StringAssign(&SettingsFile, "settings.cfg");

    if (CreateMainWindow()) {
        BindGadgetHandlers();
        LoadSettings();
        BuildMainMenu();
        if (RunEventLoop() == LoopEnd::Close) SaveSettings();
    }

    // The worker and the viewer use the gadgets and the script runner: they must be gone before
    // any layer ends. One that cannot be stopped in time keeps the layers; the process ends
    // around it.
    if (StopTrackingAndWait()) {
        TrackingWake.Close();
        EndLayers();
    } else {
        ThreadLibraryEnd();
        PreferenceLibraryEnd();
        NetworkObjectsEnd();
    }
    return 0;
}
