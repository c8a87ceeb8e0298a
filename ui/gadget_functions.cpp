#include "ui/gadget_functions.h"

#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ui/event_queue.h"
#include "ui/gadget_list.h"
#include "ui/window_table.h"

namespace {

// A coordinate or size given as this keeps its current value.
constexpr int64_t kKeepValue = -65535;

UiPlatform* Platform() {
    return CurrentUiPlatform();
}

struct Snapshot {
    std::string text;
    int64_t state = 0;
    std::optional<std::string> pendingText;
};

struct SnapshotStore {
    std::mutex mutex;
    std::unordered_map<int64_t, Snapshot> gadgets;
    // One apply task serves every gadget with a waiting text, in the order the texts came.
    // While it is queued, or while the texts it showed are held, sets queue no other task.
    bool applyTaskQueued = false;
    std::vector<int64_t> pendingOrder;
};

SnapshotStore& Store() {
    static SnapshotStore store;
    return store;
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
    if (platform == nullptr || Gadget == nullptr) return;
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
    if (platform == nullptr || Gadget == nullptr) return;
    platform->setViewIntValue(Gadget->view, state);
}

int64_t KyGadgetFunctions::GetGadgetState() {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr) return 0;
    return platform->viewIntValue(Gadget->view);
}

void KyGadgetFunctions::SetGadgetText(const PlatformString& text) {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr) return;
    platform->setViewText(Gadget->view, text);
}

PlatformString KyGadgetFunctions::GetGadgetText() {
    UiPlatform* platform = Platform();
    if (platform == nullptr || Gadget == nullptr) return {};
    return platform->viewText(Gadget->view);
}

void KyGadgetFunctions::SetGadgetAttribute(int32_t, int64_t) {}

int64_t KyGadgetFunctions::GetGadgetAttribute(int32_t) {
    return 0;
}

int64_t CreateGadget(
    KyGadgetFunctions* functions, int64_t number, int32_t type, PlatformViewKind viewKind,
    int32_t x, int32_t y, int32_t width, int32_t height, int32_t flags,
    const std::function<void(UiPlatform&, KyGadgetFunctions&, PlatformView*)>& kindSettings) {
    UiPlatform* platform = CurrentUiPlatform();
    if (functions == nullptr) return 0;
    if (platform == nullptr) {
        delete functions;
        return 0;
    }
    // The view reports to its functions object from birth, so that object comes first.
    const PlatformRect frame{static_cast<double>(x), static_cast<double>(y),
                             static_cast<double>(width), static_cast<double>(height)};
    PlatformView* view =
        platform->createView(KyGadgetList::currentWindow(), viewKind, frame, functions);
    if (view == nullptr) {
        delete functions;
        return 0;
    }
    if (functions->setup(number, type, view, view, flags) == nullptr) {
        // The view's end deletes its functions object.
        platform->removeView(view);
        return 0;
    }
    kindSettings(*platform, *functions, view);
    functions->refreshSnapshot();
    return number == -1 ? functions->GadgetID
                        : static_cast<int64_t>(reinterpret_cast<intptr_t>(view));
}

// --- the snapshot ---------------------------------------------------------------------

void GadgetSnapshotStore(int64_t gadget, const std::string& text, int64_t state) {
    SnapshotStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    Snapshot& snapshot = store.gadgets[gadget];
    if (!snapshot.pendingText) snapshot.text = text;
    snapshot.state = state;
}

void GadgetSnapshotDrop(int64_t gadget) {
    SnapshotStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.gadgets.erase(gadget);
}

void GadgetSnapshotDropAll() {
    SnapshotStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.gadgets.clear();
    // A task that was queued or held went with the platform: the next set queues a new one.
    store.applyTaskQueued = false;
    store.pendingOrder.clear();
}

std::string GadgetSnapshotText(int64_t gadget) {
    SnapshotStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    auto found = store.gadgets.find(gadget);
    return found == store.gadgets.end() ? std::string() : found->second.text;
}

int64_t GadgetSnapshotState(int64_t gadget) {
    SnapshotStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    auto found = store.gadgets.find(gadget);
    return found == store.gadgets.end() ? 0 : found->second.state;
}

void GadgetSnapshotSetPending(int64_t gadget, const std::string& text, bool* needsApplyTask) {
    SnapshotStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    auto found = store.gadgets.find(gadget);
    if (found == store.gadgets.end()) return;
    Snapshot& snapshot = found->second;
    if (!snapshot.pendingText) store.pendingOrder.push_back(gadget);
    snapshot.pendingText = text;
    snapshot.text = text;
    *needsApplyTask = !store.applyTaskQueued;
    store.applyTaskQueued = true;
}

void GadgetSnapshotTakeAllPending(std::vector<std::pair<int64_t, std::string>>* texts) {
    SnapshotStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    const size_t before = texts->size();
    for (const int64_t gadget : store.pendingOrder) {
        auto found = store.gadgets.find(gadget);
        if (found == store.gadgets.end() || !found->second.pendingText) continue;
        texts->emplace_back(gadget, std::move(*found->second.pendingText));
        found->second.pendingText.reset();
    }
    store.pendingOrder.clear();
    store.applyTaskQueued = texts->size() > before;
}

void GadgetSnapshotEndHold() {
    SnapshotStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.applyTaskQueued = false;
}

void GadgetSnapshotClearPending(int64_t gadget) {
    SnapshotStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    auto found = store.gadgets.find(gadget);
    if (found != store.gadgets.end()) found->second.pendingText.reset();
}
