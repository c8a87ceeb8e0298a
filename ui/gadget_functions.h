// The gadget record and KyGadgetFunctions, the base of every gadget kind's behaviour.
//
// Each gadget has a record in the gadget table (its number indexes it) and one functions object
// that the record owns. The free functions of the layer (SetGadgetText, GetGadgetState, ...)
// forward to the functions object's method of the same name; the kinds override what differs.
// The platform binding reports the view's activity to the functions object through the
// "from the platform" methods below. GUI thread only.
#pragma once

#include <cstdint>

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
    int32_t isNSControl = 0;  // 1 when the view is a control (has target/action, a value)

    // --- thread hand-over and lifetime ---------------------------------------------------
    // Copies the gadget's current text and state into the snapshot that other threads read.
    void refreshSnapshot();
    // True once the record's release has begun: the object is about to be deleted.
    bool isReleasing() const { return releasing_; }

  private:
    bool releasing_ = false;
};
