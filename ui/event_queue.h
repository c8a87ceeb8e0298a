// The layer's event queue: one FIFO of layer events, a wait that returns the kind of the next
// one, accessors for the event just taken, and procedures bound to events that run the moment
// an event is posted. GUI thread only (WakeEventLoop: any thread).
#pragma once

#include <cstdint>

enum EventKind : int32_t {
    MenuItemChosen = 1,
    CloseRequested = 2,
    GadgetEvent = 3,
    Redrawn = 4,
    WindowMoved = 5,
    WindowResized = 6,
    WindowBecameKey = 7,
    WindowResignedKey = 8,
    DroppedOnWindow = 10,
    DroppedOnGadget = 11,
    WindowMinimized = 12,
    WindowZoomedLarger = 13,
    WindowRestored = 14,
    RightMouseUp = 16,
    MouseUp = 17,
    DoubleMouseUp = 18,
};

enum GadgetEventType : int64_t {
    Action = 0,
    FocusGained = 0x100,
    FocusLost = 0x200,
    TextChanged = 0x300,
};

// A procedure bound to events; its result is ignored.
using EventProcedure = int64_t (*)();
// Releases an event's data payload when the next event is taken.
using EventDataRelease = void (*)(int64_t data);

// Creates the node pool and the callback registry. Called once at start-up.
void EventQueueInit();
// Frees the queue, its pool and the registry (the program ends anyway; tests call it).
void EventQueueEnd();

// Queues an event (a repeat of the newest queued one is coalesced, kinds above 65535 never),
// wakes the platform wait, and runs the procedures bound to it with it as the current event.
void PostEvent(int32_t kind, int64_t object, int64_t window, int64_t type, int64_t data = 0,
               EventDataRelease dataRelease = nullptr);
// Takes the oldest queued event as the current event; its kind, or 0 when the queue is empty.
int32_t NextEvent();
// The next event's kind: 0 when milliseconds ran out, -1 when a platform event was handled
// and produced no layer event. A negative count waits without limit.
int64_t WaitEventTimeout(int32_t milliseconds);
// WaitEventTimeout without limit.
int64_t WaitEvent();
// The current event's object (gadget number or menu item id) and type.
int64_t EventGadget();
int64_t EventMenu();
int64_t EventType();
// Binds procedure to events of kind in window, of object, of type; -1 matches any value.
// Returns 1, or 0 when the registry cannot take the binding.
int32_t BindEventCallback(int32_t kind, EventProcedure procedure, int64_t window = -1,
                          int64_t object = -1, int64_t type = -1);
// Drops every queued event of window (the window has closed).
void PurgeWindowEvents(int64_t window);
// Ends a blocked wait. Any thread.
void WakeEventLoop();
// Kept for the calling convention of the wait; the platform objects here are owned, not
// autoreleased, so there is nothing to renew.
void RenewAutoreleasePool();
// Number of queued events (for tests).
int64_t QueuedEventCount();
