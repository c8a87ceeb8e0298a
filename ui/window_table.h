// The table of windows by number: which native window a number names and back. A leaf of the
// layer: windows, menus, gadgets and the requester look windows up here. GUI thread only.
#pragma once

#include <cstdint>

#include "runtime/object_table.h"
#include "ui/platform_interface.h"

struct WindowRecord {
    PlatformWindow* window;  // null: the record is free
    PlatformWindow* parent;
    KyWindowEvents* delegate;
    PlatformWindow* previousKeyWindow;  // the key window when this one opened
};

// Creates the table; release closes the window of a number (the table's release routine).
void WindowTableCreate(ObjectReleaseRoutine release);
// Frees the table and forgets every window's number.
void WindowTableFree();
// The table; null before WindowTableCreate.
ObjectTable* WindowTable();
// Remembers and forgets which number a native window has, so that events name their window
// without a walk over the table.
void NameWindow(PlatformWindow* window, int64_t number);
void ForgetWindowName(PlatformWindow* window);

// The native window of a live window, or null.
PlatformWindow* WindowHandle(int64_t number);
// The number of a native window, or -1 when it is none of the layer's windows.
int64_t WindowNumberOf(PlatformWindow* window);
