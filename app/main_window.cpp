#include "app/main_window.h"

#include "app/program_values.h"
#include "app/tracking_control.h"
#include "runtime/network.h"
#include "ui/ui.h"

namespace {

constexpr int32_t kWindowWidth = 260;
constexpr int32_t kWindowHeight = 160;
constexpr int32_t kWindowFlags = kWindowSystemMenu | kWindowScreenCentered;
constexpr int32_t kLowestDistance = 500;
constexpr int32_t kHighestDistance = 35000;
// The track bar flags carry no meaning of their own; the bar stands vertical because it is
// taller than wide.
constexpr int32_t kZoomBarFlags = 2;

}  // namespace

bool CreateMainWindow() {
    if (OpenMainWindow(MainWindow, 0, 0, kWindowWidth, kWindowHeight, "Navlume", kWindowFlags) ==
        0) {
        return false;
    }
    CreateTrackBarGadget(ZoomBar, 220, 10, 30, 130, kLowestDistance, kHighestDistance,
                         kZoomBarFlags);
    CreateTextGadget(-1, 10, 10, 70, 25, "Server:", kTextRight);
    CreateTextGadget(-1, 10, 40, 70, 25, "Port:", kTextRight);
    CreateIPAddressGadget(ServerField, 90, 10, 110, 25);
    SetGadgetState(ServerField, MakeIPv4Address(127, 0, 0, 1));
    CreateStringGadget(PortField, 90, 40, 80, 25, "10000", kStringNumeric);
    // Wide enough for the longest texts receivers give ("-122.32639367"), up to the track bar.
    CreateTextGadget(LatitudeLabel, 10, 120, 100, 20, "", 0);
    CreateTextGadget(LongitudeLabel, 115, 120, 100, 20, "", 0);
    CreateButtonGadget(StartButton, 70, 80, 100, 25, "Start", 0);
    return true;
}

void BindGadgetHandlers() {
    BindGadgetCallback(ServerField, ServerFieldHandler);
    BindGadgetCallback(PortField, PortFieldHandler);
    BindGadgetCallback(ZoomBar, ZoomBarHandler);
    BindGadgetCallback(StartButton, StartButtonHandler);
}

void BuildMainMenu() {
    CreateMenuBar(MainMenu, WindowHandle(MainWindow));
    AddMenuItem(AboutItem, "About App");
    AddMenuItem(QuitItem, "Quit\tCmd+Q");
}
