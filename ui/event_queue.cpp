#include "ui/event_queue.h"

#include <cinttypes>
#include <cstdio>

#include "runtime/block_pool.h"
#include "runtime/memory_block.h"
#include "runtime/text_map.h"
#include "ui/platform_interface.h"

namespace {

// Kinds above this are never coalesced.
constexpr int32_t kLargestCoalescedKind = 65535;
constexpr int64_t kRegistryBuckets = 1024;
constexpr int64_t kPoolSmallestChunk = 16;
constexpr int64_t kPoolLargestChunk = 256;

struct EventRecord {
    EventRecord* next;
    int32_t kind;
    int64_t object;
    int64_t window;
    int64_t type;
    int64_t data;
    EventDataRelease dataRelease;
};

struct CurrentEventState {
    int32_t kind = 0;
    int64_t window = 0;
    int64_t object = 0;
    int64_t type = -1;
    int64_t data = 0;
    EventDataRelease dataRelease = nullptr;
};

// One procedure bound under a key; the registry's element is the head of its list.
struct CallbackNode {
    CallbackNode* next;
    CallbackNode* nextAllocated;  // every node, so the registry can be freed
    EventProcedure procedure;
};

// The queue is a FIFO (head oldest, tail newest). It is used on the GUI thread only.
BlockPool* nodePool = nullptr;
EventRecord* head = nullptr;
EventRecord* tail = nullptr;
int64_t queued = 0;
CurrentEventState current;
TextMap* registry = nullptr;
CallbackNode* allocatedNodes = nullptr;

void FormatKey(char (&key)[128], int32_t kind, int64_t window, int64_t object, int64_t type) {
    std::snprintf(key, sizeof key, "%" PRId32 ":%" PRId64 ":%" PRId64 ":%" PRId64, kind, window,
                  object, type);
}

// Runs every procedure bound under the key, newest binding first.
void DispatchKey(int32_t kind, int64_t window, int64_t object, int64_t type) {
    if (registry == nullptr) return;
    char key[128];
    FormatKey(key, kind, window, object, type);
    auto* listHead = static_cast<CallbackNode**>(MapFind(registry, key));
    if (listHead == nullptr) return;
    for (CallbackNode* node = *listHead; node != nullptr; node = node->next)
        node->procedure();
}

void DispatchEventCallbacks(int32_t kind, int64_t window, int64_t object, int64_t type) {
    DispatchKey(kind, window, object, type);
    DispatchKey(kind, window, object, -1);
    DispatchKey(kind, window, -1, -1);
    DispatchKey(kind, -1, -1, -1);
    DispatchKey(kind, -1, object, type);
}

bool SameAsNewest(int32_t kind, int64_t object, int64_t window, int64_t type) {
    return tail != nullptr && tail->kind == kind && tail->object == object &&
           tail->window == window && tail->type == type;
}

void ReleaseCurrentData() {
    if (current.data != 0 && current.dataRelease != nullptr) current.dataRelease(current.data);
    current.data = 0;
    current.dataRelease = nullptr;
}

}  // namespace

void EventQueueInit() {
    EventQueueEnd();
    nodePool = PoolCreate(sizeof(EventRecord), kPoolSmallestChunk, kPoolLargestChunk, kPoolPrivate);
    MapCreate(sizeof(CallbackNode*), nullptr, &registry, kRegistryBuckets);
    current = CurrentEventState{};
}

void EventQueueEnd() {
    ReleaseCurrentData();
    while (head != nullptr) {
        EventRecord* next = head->next;
        if (head->data != 0 && head->dataRelease != nullptr) head->dataRelease(head->data);
        head = next;
    }
    tail = nullptr;
    queued = 0;
    PoolDestroy(nodePool);
    nodePool = nullptr;
    MapDestroy(registry);
    registry = nullptr;
    while (allocatedNodes != nullptr) {
        CallbackNode* next = allocatedNodes->nextAllocated;
        MemoryFree(allocatedNodes);
        allocatedNodes = next;
    }
}

void PostEvent(int32_t kind, int64_t object, int64_t window, int64_t type, int64_t data,
               EventDataRelease dataRelease) {
    // Redraws are frequent and never worth waking the loop for.
    if (kind != Redrawn) WakeEventLoop();

    if (!(kind <= kLargestCoalescedKind && SameAsNewest(kind, object, window, type))) {
        auto* node = static_cast<EventRecord*>(PoolAlloc(nodePool));
        if (node != nullptr) {
            *node = EventRecord{nullptr, kind, object, window, type, data, dataRelease};
            if (tail != nullptr) {
                tail->next = node;
            } else {
                head = node;
            }
            tail = node;
            ++queued;
        }
    }

    // Bound procedures run now, inside the posting, and see the posted event as the current
    // one; a coalesced repeat runs them too.
    const CurrentEventState saved = current;
    current = CurrentEventState{kind, window, object, type, data, dataRelease};
    DispatchEventCallbacks(kind, window, object, type);
    current = saved;
}

int32_t NextEvent() {
    current.kind = 0;
    ReleaseCurrentData();
    current.type = -1;
    if (head != nullptr) {
        EventRecord* node = head;
        current.kind = node->kind;
        current.object = node->object;
        current.window = node->window;
        current.type = node->type;
        current.data = node->data;
        current.dataRelease = node->dataRelease;
        head = node->next;
        if (head == nullptr) tail = nullptr;
        --queued;
        PoolFree(nodePool, node);
    }
    return current.kind;
}

int64_t WaitEventTimeout(int32_t milliseconds) {
    RenewAutoreleasePool();
    // Queued events are returned without touching the platform.
    int32_t kind = NextEvent();
    if (kind != 0) return kind;

    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr || !platform->handleOneEvent(milliseconds)) return 0;
    kind = NextEvent();
    return kind == 0 ? -1 : kind;
}

int64_t WaitEvent() {
    return WaitEventTimeout(-1);
}

int64_t EventGadget() {
    return current.object;
}

int64_t EventMenu() {
    return current.object;
}

int64_t EventType() {
    return current.type;
}

int32_t BindEventCallback(int32_t kind, EventProcedure procedure, int64_t window, int64_t object,
                          int64_t type) {
    if (registry == nullptr || procedure == nullptr) return 0;
    char key[128];
    FormatKey(key, kind, window, object, type);
    auto* listHead = static_cast<CallbackNode**>(MapFindOrAdd(registry, key));
    if (listHead == nullptr) return 0;
    auto* node = static_cast<CallbackNode*>(MemoryAllocate(sizeof(CallbackNode)));
    if (node == nullptr) return 0;
    node->procedure = procedure;
    node->next = *listHead;
    *listHead = node;
    node->nextAllocated = allocatedNodes;
    allocatedNodes = node;
    return 1;
}

void PurgeWindowEvents(int64_t window) {
    EventRecord* previous = nullptr;
    EventRecord* node = head;
    while (node != nullptr) {
        EventRecord* next = node->next;
        if (node->window == window) {
            if (previous != nullptr) {
                previous->next = next;
            } else {
                head = next;
            }
            if (node->data != 0 && node->dataRelease != nullptr) node->dataRelease(node->data);
            PoolFree(nodePool, node);
            --queued;
        } else {
            previous = node;
        }
        node = next;
    }
    tail = previous;
}

void WakeEventLoop() {
    WakeGuiThread();
}

void RenewAutoreleasePool() {}

int64_t QueuedEventCount() {
    return queued;
}
