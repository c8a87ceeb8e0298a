// What threads other than the GUI thread may know of a gadget: its text (Latin-1) and state as
// the GUI thread last saw them, and a text set from another thread that waits for the GUI
// thread to show it. Widgets are never touched here, so any thread may call these; one mutex
// guards them all, and no call ever waits for the GUI thread.
#pragma once

#include <cstdint>
#include <string>

// GUI thread: records the gadget's text and state as its view shows them. While a text set
// from another thread is waiting, the snapshot keeps that text (the setter must see it).
void GadgetSnapshotStore(int64_t gadget, const std::string& text, int64_t state);
// The gadget is gone: forgets its snapshot and any waiting text.
void GadgetSnapshotDrop(int64_t gadget);
void GadgetSnapshotDropAll();

// The snapshot's text; false (text untouched) when the gadget has none.
bool GadgetSnapshotText(int64_t gadget, std::string* text);
// The snapshot's state; 0 when the gadget has none.
int64_t GadgetSnapshotState(int64_t gadget);

// Stores text as the gadget's waiting text and as its snapshot text. false when the gadget has
// no snapshot (it is not live). *needsApplyTask becomes true when no apply task is queued for
// the gadget yet: the caller must queue one; later sets only replace the waiting text.
bool GadgetSnapshotSetPending(int64_t gadget, const std::string& text, bool* needsApplyTask);
// GUI thread, in the apply task: takes the waiting text; false when there is none (a newer
// program set replaced it, or the gadget is gone). Either way the task counts as run.
bool GadgetSnapshotTakePending(int64_t gadget, std::string* text);
// GUI thread: the program set a text itself, so an older waiting text must not overwrite it.
void GadgetSnapshotClearPending(int64_t gadget);
