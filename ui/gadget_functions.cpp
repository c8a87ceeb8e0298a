#include "ui/gadget_functions.h"

#include <cstdint>

#include "ui/event_queue.h"
#include "ui/gadget_snapshot.h"
#include "ui/gadget_table.h"
#include "ui/truncate.h"
#include "ui/windows.h"

namespace {

// A coordinate or size given as this keeps its current value.
constexpr int64_t kKeepValue = -65535;

UiPlatform* Platform() {
    return CurrentUiPlatform();
}

}  // namespace

Ky_GadgetStructure* KyGadgetFunctions::setup(int64_t number, int32_t type, PlatformView* view,
                                             PlatformView* container, int32_t flags) {
    if (view == nullptr) return nullptr;
    // A number still in use gives its old gadget up here (the table's release routine).
    auto* record = static_cast<Ky_GadgetStructure*>(ObjectGetOrCreate(GadgetTable(), number));
    if (record == nullptr) return nullptr;
    Gadget = record;
    GadgetID = number == kNewObjectNumber ? ObjectNumberOf(record) : number;
    // Every view the platform makes is a control: it has a value, an action and can be
    // disabled.
    isNSControl = 1;
    record->view = view;
    record->container = container != nullptr ? container : view;
    record->functions = this;
    record->userData = 0;
    record->type = type;
    record->flags = flags;
    return record;
}

void KyGadgetFunctions::EventHandler(PlatformView*) {
    SendEvent(Action);
}

void KyGadgetFunctions::controlTextDidChange() {}

void KyGadgetFunctions::becomeFirstResponder() {}

void KyGadgetFunctions::textDidEndEditing(bool) {}

void KyGadgetFunctions::viewDestroyed() {
    if (releasing_) return;
    releasing_ = true;
    const int64_t number = GadgetID;
    ObjectTable* table = GadgetTable();
    // The number may already belong to a newer gadget (re-created while this view lived on);
    // only the record this object filled is released.
    const bool ownsRecord =
        Gadget != nullptr && ObjectFromNumber(table, number) == Gadget && Gadget->functions == this;
    FreeGadget();
    if (ownsRecord) {
        GadgetSnapshotDrop(number);
        ObjectRelease(table, number);
    }
    Gadget = nullptr;
    delete this;
}

void KyGadgetFunctions::refreshSnapshot() {
    if (Gadget == nullptr || releasing_) return;
    GadgetSnapshotStore(GadgetID, PlatformStringToLatin1(GetGadgetText()), GetGadgetState());
}

void KyGadgetFunctions::SendEvent(int32_t type) {
    if (Gadget == nullptr) return;
    // Whoever reads the gadget from another thread sees what the user just did.
    refreshSnapshot();
    UiPlatform* platform = Platform();
    PlatformWindow* window = platform != nullptr ? platform->viewWindow(Gadget->view) : nullptr;
    const int64_t windowNumber = window != nullptr ? WindowNumberOf(window) : -1;
    PostEvent(GadgetEvent, GadgetID, windowNumber, static_cast<int64_t>(type));
}

void KyGadgetFunctions::ActivateGadget() {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr) return;
    if (PlatformWindow* window = platform->viewWindow(Gadget->view))
        platform->makeKeyWindow(window);
    platform->focusView(Gadget->view);
}

void KyGadgetFunctions::HideGadget(int32_t state) {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr) return;
    platform->setViewHidden(Gadget->container, state != 0);
}

void KyGadgetFunctions::DisableGadget(int32_t state) {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr || isNSControl == 0) return;
    platform->setViewEnabled(Gadget->view, state == 0);
}

int64_t KyGadgetFunctions::GadgetX(int32_t mode) {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr) return 0;
    const PlatformRect frame = platform->viewFrame(Gadget->container);
    // Containers sit directly in the window's content area, so modes 0 and 2 agree.
    if (mode != 1) return TruncateToInt64(frame.x);
    PlatformWindow* window = platform->viewWindow(Gadget->container);
    if (window == nullptr) return TruncateToInt64(frame.x);
    return TruncateToInt64(platform->windowFrame(window).x + frame.x);
}

int64_t KyGadgetFunctions::GadgetY(int32_t mode) {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr) return 0;
    const PlatformRect frame = platform->viewFrame(Gadget->container);
    if (mode != 1) return TruncateToInt64(frame.y);
    PlatformWindow* window = platform->viewWindow(Gadget->container);
    if (window == nullptr) return TruncateToInt64(frame.y);
    // The content area starts below the window's title bar: the frame's extra height over the
    // content of a titled window.
    const PlatformRect windowFrame = platform->windowFrame(window);
    PlatformWindowStyle titled;
    titled.titled = true;
    const double titleBar = platform->frameRectForContentRect({}, titled).height;
    return TruncateToInt64(windowFrame.y + titleBar + frame.y);
}

int64_t KyGadgetFunctions::GadgetWidth() {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr) return 0;
    return TruncateToInt64(platform->viewFrame(Gadget->container).width);
}

int64_t KyGadgetFunctions::GadgetHeight() {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr) return 0;
    return TruncateToInt64(platform->viewFrame(Gadget->container).height);
}

void KyGadgetFunctions::ResizeGadget(int64_t x, int64_t y, int64_t width, int64_t height) {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr) return;
    PlatformRect frame = platform->viewFrame(Gadget->container);
    if (x != kKeepValue) frame.x = static_cast<double>(x);
    if (y != kKeepValue) frame.y = static_cast<double>(y);
    if (width != kKeepValue) frame.width = static_cast<double>(width);
    if (height != kKeepValue) frame.height = static_cast<double>(height);
    platform->setViewFrame(Gadget->container, frame);
}

void KyGadgetFunctions::SetGadgetState(int64_t state) {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr || isNSControl == 0) return;
    platform->setViewIntValue(Gadget->view, state);
}

int64_t KyGadgetFunctions::GetGadgetState() {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr || isNSControl == 0) return 0;
    return platform->viewIntValue(Gadget->view);
}

void KyGadgetFunctions::SetGadgetText(const PlatformString& text) {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr || isNSControl == 0) return;
    platform->setViewText(Gadget->view, text);
}

PlatformString KyGadgetFunctions::GetGadgetText() {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr || isNSControl == 0) return {};
    return platform->viewText(Gadget->view);
}

void KyGadgetFunctions::SetGadgetAttribute(int32_t, int64_t) {}

int64_t KyGadgetFunctions::GetGadgetAttribute(int32_t) {
    return 0;
}
