#include "app/navlume.h"

#include "app/layers.h"
#include "app/main_window.h"
#include "app/program_values.h"
#include "app/settings.h"
#include "app/tracking_control.h"
#include "runtime/string_variable.h"
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
        StringAssign(&LineBreak, nullptr);
        StringAssign(&SettingsFile, nullptr);
        EndLayers(LayerEnd::Everything);
    } else {
        EndLayers(LayerEnd::KeepTables);
    }
    return 0;
}
