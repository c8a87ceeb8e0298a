#include "app/navlume.h"

#include <unistd.h>

#include <cstring>

#include "app/layers.h"
#include "app/main_window.h"
#include "app/program_values.h"
#include "app/settings.h"
#include "app/tracking_control.h"
#include "runtime/charset.h"
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
            if (EventMenu() == AboutItem) ShowMessageBox("About Navlume", AboutText().c_str(), 0);
        } else if (kind == CloseRequested) {
            QuitRequested = 1;
        }
        if (QuitRequested == 1) return LoopEnd::Close;
    }
}

}  // namespace

std::string AboutText() {
    std::string text = kAboutText;
    char folder[4096];
    if (getcwd(folder, sizeof folder) == nullptr) return text;
    // The file system's names are UTF-8; characters beyond Latin-1 show as "?".
    const auto length = static_cast<int64_t>(std::strlen(folder));
    std::string name(static_cast<size_t>(length), '\0');
    int64_t written = 0;
    Utf8ToLatin1(name.data(), &written, folder, length);
    name.resize(static_cast<size_t>(written));
    return text + kAboutFolderText + name;
}

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
