// The view widgets of the binding: label, push button, text field (plain or secure) and
// slider. Each is its Qt widget plus QtView, the link to the gadget it reports to. The handle
// the layer holds (PlatformView*) is the address of that link; it is only ever resolved through
// the registry of live views, so a handle of a view that has ended is never dereferenced.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QSlider>
#include <QValidator>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/gadget_functions.h"
#include "ui/platform/qt/qt_layer_call.h"
#include "ui/platform/qt/qt_number_glyphs.h"
#include "ui/platform_interface.h"

// A QValidator that asks the gadget's PlatformTextValidator about every edit of a text field.
class QtTextValidatorAdapter final : public QValidator {
  public:
    explicit QtTextValidatorAdapter(QObject* parent) : QValidator(parent) {}

    // The validator asked from now on (null: every edit stands). Owned by the gadget.
    void setTarget(PlatformTextValidator* target) { target_ = target; }
    PlatformTextValidator* target() const { return target_; }

    // Accepts the edit, rejects it (the field keeps its text), or puts the validator's
    // replacement in its place.
    State validate(QString& input, int& position) const override;

  private:
    PlatformTextValidator* target_ = nullptr;
};

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

    QWidget* widget() const { return widget_; }
    PlatformViewKind kind() const { return kind_; }

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
    bool greyed() const { return greyed_; }

  protected:
    // Calls report with the gadget's functions inside a LayerCall, unless the view has ended.
    // The call may end the view; the widget itself stays alive until control returns to Qt.
    template <typename Report>
    void report(Report&& call) {
        if (functions_ == nullptr) return;
        LayerCall scope;
        call(*functions_);
    }
    bool reporting() const { return functions_ != nullptr; }
    // The kind's own links to the gadget (a validator) are dropped here, before the gadget
    // hears of the end.
    virtual void detachFromGadget() {}

  private:
    void unregister();

    QWidget* widget_;
    PlatformViewKind kind_;
    KyGadgetFunctions* functions_;
    bool greyed_ = false;
};

// The number a text starts with, as a 32-bit text control reads it: leading white space, an
// optional sign and the digits up to the first other character; 0 when there are none; clamped
// to the 32-bit range.
int64_t TextIntValue(const std::string& text);

// Static text: plain text, never selectable.
class QtLabelView final : public QLabel, public QtView {
  public:
    QtLabelView(QWidget* parent, KyGadgetFunctions* functions);
    ~QtLabelView() override;

    std::string text() const override;
    void setText(const std::string& text) override;
    void setFrame(const QRect& frame) override;
    void setAlignment(PlatformTextAlignment alignment) override;
    void setBordered(bool bordered) override;

  protected:
    // A number (the position labels) is drawn from cached glyphs; anything else by QLabel.
    void paintEvent(QPaintEvent* event) override;

  private:
    NumberGlyphs glyphs_;
};

// A push button with an on/off state that every click flips before the gadget hears of it.
// A toggle button shows the state; a plain one only keeps it.
class QtButtonView final : public QPushButton, public QtView {
  public:
    QtButtonView(QWidget* parent, KyGadgetFunctions* functions);
    ~QtButtonView() override;

    std::string text() const override { return title_; }
    void setText(const std::string& text) override;
    int64_t intValue() const override { return state_; }
    void setIntValue(int64_t value) override;
    void setAlignment(PlatformTextAlignment alignment) override;
    void setBordered(bool bordered) override { setFlat(!bordered); }

    void setToggles(bool toggles);
    // The bezel shape is kept for the layer; Qt draws one kind of push button.
    void setRounded(bool rounded) { rounded_ = rounded; }
    bool rounded() const { return rounded_; }

  private:
    void clickedByUser();

    std::string title_;
    int64_t state_ = 0;
    bool rounded_ = false;
};

// An editable single-line text (a secure one shows dots). It reports user edits (never the
// program's), the start of editing when it takes the focus and the end of editing on Return or
// when the focus leaves. Its validator is asked about edits only.
class QtTextFieldView final : public QLineEdit, public QtView {
  public:
    QtTextFieldView(QWidget* parent, bool secure, KyGadgetFunctions* functions);
    ~QtTextFieldView() override;

    std::string text() const override;
    // Shown as given: the validator is not asked and no change is reported.
    void setText(const std::string& text) override;
    void setAlignment(PlatformTextAlignment alignment) override;
    void setBordered(bool bordered) override { QLineEdit::setFrame(bordered); }
    void setEditable(bool editable) override { setReadOnly(!editable); }

    void setTextValidator(PlatformTextValidator* validator);

  protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void detachFromGadget() override;

  private:
    // Runs change with the validator taken off, so that Qt does not consult it.
    template <typename Change>
    void unvalidated(Change&& change) {
        const bool validated = validator() != nullptr;
        if (validated) setValidator(nullptr);
        change();
        if (validated) setValidator(validator_);
    }

    // From taking the focus until it leaves (a window switch does not end it).
    bool editing_ = false;
    QtTextValidatorAdapter* validator_;
};

// A slider over a floating-point range (whole steps on screen), vertical when its frame is
// taller than wide. Only the user's moves are reported.
class QtSliderView final : public QSlider, public QtView {
  public:
    QtSliderView(QWidget* parent, KyGadgetFunctions* functions);
    ~QtSliderView() override;

    std::string text() const override;
    void setText(const std::string& text) override;
    int64_t intValue() const override { return value(); }
    void setIntValue(int64_t value) override;
    void setFrame(const QRect& frame) override;

    void setRange(double minimum, double maximum);
    double minimumValue() const { return minimum_; }
    double maximumValue() const { return maximum_; }
    void setTickMarks(int64_t count, bool snap);

  private:
    void valueChangedTo(int value);
    // Runs change with the value's reports switched off.
    template <typename Change>
    void programChange(Change&& change) {
        const bool outer = programChange_;
        programChange_ = true;
        change();
        programChange_ = outer;
    }
    int snapped(int value) const;

    double minimum_ = 0;
    double maximum_ = 1;
    int64_t tickCount_ = 0;
    bool snap_ = false;
    bool programChange_ = false;
};
