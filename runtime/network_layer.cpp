#include "runtime/network_layer.h"

#include <atomic>

#include "runtime/network.h"

namespace {

// Atomic because the worker calls NetworkInit from its own thread while the main thread ends
// the layer at shutdown.
std::atomic<bool> initialised{false};
std::atomic<bool> ipv6Allowed{false};

}  // namespace

int64_t NetworkInit() {
    if (!initialised.exchange(true)) ipv6Allowed.store(true);
    return 1;
}

void NetworkObjectsEnd() {
    // Only client connections exist in this program, and they belong to whoever opened them:
    // closing one here could pull the socket from under a worker that is still reading it.
    ipv6Allowed.store(false);
    initialised.store(false);
}

bool NetworkIPv6Allowed() {
    return ipv6Allowed.load();
}
