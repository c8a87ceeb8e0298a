#include "ui/platform_interface.h"

#include <atomic>

namespace {

// Set once at start-up, read from any thread (the worker hands label texts to the GUI thread
// through it).
std::atomic<UiPlatform*> platform{nullptr};

}  // namespace

void SetUiPlatform(UiPlatform* newPlatform) {
    platform.store(newPlatform);
}

UiPlatform* CurrentUiPlatform() {
    return platform.load();
}
