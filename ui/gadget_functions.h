// The gadget record, the gadget table, the snapshot other threads read, and KyGadgetFunctions,
// the base of every gadget kind's behaviour.
//
// Each gadget has a record in the gadget table (its number indexes it) and one functions object
// that the record owns. The free functions of the layer (SetGadgetText, GetGadgetState, ...)
// forward to the functions object's method of the same name; the kinds override what differs.
// The platform binding reports the view's activity to the functions object through the
// "from the platform" methods below. GUI thread only, except the snapshot functions.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/object_table.h"
#include "ui/platform_interface.h"
#include "ui/platform_string.h"

class KyGadgetFunctions;

// Kind codes stored in the record.
enum GadgetType : int32_t {
    kGadgetButton = 1,
    kGadgetString = 2,
    kGadgetText = 3,
    kGadgetIPAddress = 13,
    kGadgetTrackBar = 17,
};

// The gadget record. Live while view is set (the table's liveness rule reads the first 8 bytes).
struct Ky_GadgetStructure {
    PlatformView* view;            // null: the record is free
    PlatformView* container;       // the outermost view; for every kind here the view itself
    KyGadgetFunctions* functions;  // owned by the record
    int64_t userData;              // zero at creation; unused by the layer
    int32_t type;                  // GadgetType
    int32_t flags;                 // creation flags of the kind
};

class KyGadgetFunctions {
  public:
    virtual ~KyGadgetFunctions() = default;

    // Registers the gadget under number (-1: a new number) and fills its record; the view
    // reports to this object from now on. Returns the record, or null when the table is full.
    Ky_GadgetStructure* setup(int64_t number, int32_t type, PlatformView* view,
                              PlatformView* container, int32_t flags);

    // --- from the platform --------------------------------------------------------------
    // The control's action (button press, slider move).
    virtual void EventHandler(PlatformView* sender);
    // The user changed the text of an editable field.
    virtual void controlTextDidChange();
    // The field became the focused view.
    virtual void becomeFirstResponder();
    // Editing of the field ended; endedByReturn when Return or Enter ended it.
    virtual void textDidEndEditing(bool endedByReturn);
    // The view is being destroyed (window closed or gadget removed): releases the record.
    void viewDestroyed();

    // --- operations ----------------------------------------------------------------------
    // Posts a gadget event of type for this gadget.
    void SendEvent(int32_t type);
    // The kind's hook when its record is released.
    virtual void FreeGadget() {}
    virtual void ActivateGadget();
    virtual void HideGadget(int32_t state);
    virtual void DisableGadget(int32_t state);
    virtual int64_t GadgetX(int32_t mode);
    virtual int64_t GadgetY(int32_t mode);
    virtual int64_t GadgetWidth();
    virtual int64_t GadgetHeight();
    virtual void ResizeGadget(int64_t x, int64_t y, int64_t width, int64_t height);
    virtual void SetGadgetState(int64_t state);
    virtual int64_t GetGadgetState();
    virtual void SetGadgetText(const PlatformString& text);
    virtual PlatformString GetGadgetText();
    virtual void SetGadgetAttribute(int32_t attribute, int64_t value);
    virtual int64_t GetGadgetAttribute(int32_t attribute);

    int64_t GadgetID = -1;
    Ky_GadgetStructure* Gadget = nullptr;

    // --- thread hand-over and lifetime ---------------------------------------------------
    // Copies the gadget's current text and state into the snapshot that other threads read.
    void refreshSnapshot();
    // True once the record's release has begun: the object is about to be deleted.
    bool isReleasing() const { return releasing_; }

  private:
    bool releasing_ = false;
};

// The gadget table; null before GadgetSystemInit and after GadgetLibraryEnd.
ObjectTable* GadgetTable();

// Creates a view of viewKind at (x, y, width, height) in the window that receives gadgets (none:
// a view in no window), registers functions (taken over; null fails) under number (-1: a new
// number) with the kind's type and flags, applies the kind's settings and records the first
// snapshot. Returns the new number for -1, otherwise the view as a non-zero value; 0 when the
// view or the record cannot be made.
int64_t CreateGadget(
    KyGadgetFunctions* functions, int64_t number, int32_t type, PlatformViewKind viewKind,
    int32_t x, int32_t y, int32_t width, int32_t height, int32_t flags,
    const std::function<void(UiPlatform&, KyGadgetFunctions&, PlatformView*)>& kindSettings);

// Floating-point platform values (frames, slider bounds) as integers: truncated towards zero;
// NaN gives 0 and values no 64-bit integer holds are clamped.
inline int64_t TruncateToInt64(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775807.0) return INT64_MAX;
    if (value <= -9223372036854775808.0) return INT64_MIN;
    return static_cast<int64_t>(value);
}

// --- the snapshot ----------------------------------------------------------------------------
// What threads other than the GUI thread may know of a gadget: its text (Latin-1) and state as
// the GUI thread last saw them, and a text set from another thread that waits for the GUI
// thread to show it. Widgets are never touched here, so any thread may call these; one mutex
// guards them all, and no call ever waits for the GUI thread.

// GUI thread: records the gadget's text and state as its view shows them. While a text set
// from another thread is waiting, the snapshot keeps that text (the setter must see it).
void GadgetSnapshotStore(int64_t gadget, const std::string& text, int64_t state);
// The gadget is gone: forgets its snapshot and any waiting text.
void GadgetSnapshotDrop(int64_t gadget);
void GadgetSnapshotDropAll();
// The snapshot's text; the empty text when the gadget has none.
std::string GadgetSnapshotText(int64_t gadget);
// The snapshot's state; 0 when the gadget has none.
int64_t GadgetSnapshotState(int64_t gadget);
// Stores text as the gadget's waiting text and as its snapshot text; a gadget without a snapshot
// (not live) is left alone. *needsApplyTask becomes true when no apply task is queued yet: the
// caller must queue one, which serves every gadget's waiting text; later sets only replace
// waiting texts.
void GadgetSnapshotSetPending(int64_t gadget, const std::string& text, bool* needsApplyTask);
// GUI thread, in the apply task: takes every waiting text with its gadget, in the order in
// which the gadgets got them (texts that a newer program set replaced, or of gadgets that are
// gone, are left out). When it took none, the task counts as run; when it took some, they are
// held: later sets only wait, until the holder takes again or ends the hold.
void GadgetSnapshotTakeAllPending(std::vector<std::pair<int64_t, std::string>>* texts);
// The holder cannot take again: the next set queues an apply task of its own.
void GadgetSnapshotEndHold();
// GUI thread: the program set a text itself, so an older waiting text must not overwrite it.
void GadgetSnapshotClearPending(int64_t gadget);
