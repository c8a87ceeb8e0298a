#include "ui/gadget_snapshot.h"

#include <mutex>
#include <optional>
#include <unordered_map>

namespace {

struct Snapshot {
    std::string text;
    int64_t state = 0;
    std::optional<std::string> pendingText;
    bool applyTaskQueued = false;
};

struct SnapshotStore {
    std::mutex mutex;
    std::unordered_map<int64_t, Snapshot> gadgets;
};

SnapshotStore& Store() {
    static SnapshotStore store;
    return store;
}

}  // namespace

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
}

bool GadgetSnapshotText(int64_t gadget, std::string* text) {
    SnapshotStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    auto found = store.gadgets.find(gadget);
    if (found == store.gadgets.end()) return false;
    *text = found->second.text;
    return true;
}

int64_t GadgetSnapshotState(int64_t gadget) {
    SnapshotStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    auto found = store.gadgets.find(gadget);
    return found == store.gadgets.end() ? 0 : found->second.state;
}

bool GadgetSnapshotSetPending(int64_t gadget, const std::string& text, bool* needsApplyTask) {
    SnapshotStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    auto found = store.gadgets.find(gadget);
    if (found == store.gadgets.end()) return false;
    Snapshot& snapshot = found->second;
    snapshot.pendingText = text;
    snapshot.text = text;
    *needsApplyTask = !snapshot.applyTaskQueued;
    snapshot.applyTaskQueued = true;
    return true;
}

bool GadgetSnapshotTakePending(int64_t gadget, std::string* text) {
    SnapshotStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    auto found = store.gadgets.find(gadget);
    if (found == store.gadgets.end()) return false;
    Snapshot& snapshot = found->second;
    snapshot.applyTaskQueued = false;
    if (!snapshot.pendingText) return false;
    *text = std::move(*snapshot.pendingText);
    snapshot.pendingText.reset();
    return true;
}

void GadgetSnapshotClearPending(int64_t gadget) {
    SnapshotStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    auto found = store.gadgets.find(gadget);
    if (found != store.gadgets.end()) found->second.pendingText.reset();
}
