// Numbered gadgets: the operations every kind shares.
//
// SetGadgetText(s), GetGadgetText and GetGadgetState may also be called from a thread other than
// the GUI thread (the tracker's worker does): a text set there is handed to the GUI thread,
// which shows the text set last; the getters answer from a snapshot that the GUI thread keeps
// current. Every other operation is GUI thread only; called from another thread it does nothing
// (getters give 0 or null, ActivateGadget still 1).
#pragma once

#include <cstdint>
#include <span>

#include "ui/event_queue.h"
#include "ui/gadget_functions.h"

// Creates the gadget table. Called once at start-up.
void GadgetSystemInit();
void GadgetLibraryInit();
void GadgetLibraryEnd();

// The record of a live gadget, or null.
Ky_GadgetStructure* GadgetRecord(int64_t gadget);

void SetGadgetText(int64_t gadget, const char* text);

// From another thread, a text is shown at once and then held for this long; of the texts set
// meanwhile only the newest are shown, when the hold ends. A receiver sets the labels ten times
// a second or more, faster than anyone can read them, and each change costs a repaint.
constexpr int32_t kHandedTextHoldMs = 200;

// Several gadgets' texts at once. From another thread they reach the GUI thread together, in
// one task, so the window repaints once; set one by one, the GUI thread may take the first
// before the second is set, and repaint twice.
struct GadgetText {
    int64_t gadget;
    const char* text;
};
void SetGadgetTexts(std::span<const GadgetText> texts);
// The gadget's text at start in the temporary buffer; empty for no live gadget.
char* GetGadgetText(int64_t gadget, int64_t start);
void SetGadgetState(int64_t gadget, int64_t state);
// The gadget's state; 0 for no live gadget.
int64_t GetGadgetState(int64_t gadget);
// Non-zero disables, 0 enables.
void DisableGadget(int64_t gadget, int32_t state);
// Focuses the gadget; returns 1.
int32_t ActivateGadget(int64_t gadget);
// Binds procedure to the gadget's events of eventType (-1: all). 0 when there is no such
// gadget or the registry cannot take it, else 1.
int32_t BindGadgetEvent(int64_t gadget, EventProcedure procedure, int64_t eventType);
int32_t BindGadgetCallback(int64_t gadget, EventProcedure procedure);
// Removes a gadget from its window; -1 removes every gadget.
void RemoveGadget(int64_t gadget);
// Kind attributes (string field: 1 maximum length; track bar: 1 minimum, 2 maximum); 0 for
// other attributes or no live gadget.
void SetGadgetAttribute(int64_t gadget, int32_t attribute, int64_t value);
int64_t GetGadgetAttribute(int64_t gadget, int32_t attribute);
// Moves and sizes a gadget; -65535 keeps a value.
void ResizeGadget(int64_t gadget, int64_t x, int64_t y, int64_t width, int64_t height);
// Non-zero hides, 0 shows.
void HideGadget(int64_t gadget, int32_t state);
