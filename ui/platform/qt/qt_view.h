// QtView: what every view widget of the binding shares, the link between the widget and the
// gadget it reports to. The handle the layer holds (PlatformView*) is the address of this
// link; it is only ever resolved through the registry of live views, so a handle of a view
// that has ended is never dereferenced.
#pragma once

#include <QRect>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/gadget_functions.h"
#include "ui/platform/qt/qt_layer_call.h"
#include "ui/platform_interface.h"

class QWidget;

class QtView {
  public:
    QtView(QWidget* widget, PlatformViewKind kind, KyGadgetFunctions* functions);
    virtual ~QtView();
    QtView(const QtView&) = delete;
    QtView& operator=(const QtView&) = delete;

    PlatformView* handle() { return reinterpret_cast<PlatformView*>(this); }
    // The live view of a handle, or null.
    static QtView* fromHandle(PlatformView* handle);
    static std::vector<QtView*> liveViews();

    QWidget* widget() const { return Widget; }
    PlatformViewKind kind() const { return Kind; }

    // The view ends: its gadget hears viewDestroyed (once), the handle stops resolving and the
    // widget reports nothing more. Deleting the widget is left to its owner.
    void retire();
    // Ends the view without telling the gadget (the layer may already be gone).
    void silence();

    virtual std::string text() const = 0;
    virtual void setText(const std::string& text) = 0;
    // Texts read as numbers the way a text control does: leading blanks, a sign, digits.
    virtual int64_t intValue() const;
    virtual void setIntValue(int64_t value);
    virtual void setFrame(const QRect& frame);
    virtual void setAlignment(PlatformTextAlignment) {}
    virtual void setBordered(bool) {}
    virtual void setEditable(bool) {}
    // Shows the text in the disabled colour without disabling the view.
    void setGreyed(bool greyed);
    bool greyed() const { return Greyed; }

  protected:
    // Calls report with the gadget's functions inside a LayerCall, unless the view has ended.
    // The call may end the view; the widget itself stays alive until control returns to Qt.
    template <typename Report>
    void report(Report&& call) {
        if (Functions == nullptr) return;
        LayerCall scope;
        call(*Functions);
    }
    bool reporting() const { return Functions != nullptr; }
    // The kind's own links to the gadget (a validator) are dropped here, before the gadget
    // hears of the end.
    virtual void detachFromGadget() {}

  private:
    void unregister();

    QWidget* Widget;
    PlatformViewKind Kind;
    KyGadgetFunctions* Functions;
    bool Greyed = false;
};

// The number a text starts with, as a 32-bit text control reads it: leading white space, an
// optional sign and the digits up to the first other character; 0 when there are none; clamped
// to the 32-bit range.
int64_t LeadingInteger(const std::string& text);
