// The window table's record, shared by the window operations and the window delegate.
// Internal to the layer.
#pragma once

#include "runtime/object_table.h"
#include "ui/platform_interface.h"
#include "ui/window_events.h"

struct WindowRecord {
    PlatformWindow* window;  // null: the record is free
    PlatformWindow* parent;
    KyWindowEvents* delegate;
    PlatformWindow* previousKeyWindow;  // the key window when this one opened
};

// The table of windows by number; null before WindowLibraryInit.
ObjectTable* WindowTable();
// Called by the delegate: remembers and forgets which number a native window has.
void RegisterWindowDelegate(PlatformWindow* window, KyWindowEvents* delegate);
void UnregisterWindowDelegate(PlatformWindow* window);
