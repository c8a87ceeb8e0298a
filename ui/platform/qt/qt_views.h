// The view widgets: label, push button, text field (plain or secure) and slider. Each is its
// Qt widget plus the QtView link to its gadget.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <cstdint>
#include <string>

#include "ui/platform/qt/qt_text_validator.h"
#include "ui/platform/qt/qt_view.h"

// Static text: plain text, never selectable.
class QtLabelView final : public QLabel, public QtView {
  public:
    QtLabelView(QWidget* parent, KyGadgetFunctions* functions);
    ~QtLabelView() override;

    std::string text() const override;
    void setText(const std::string& text) override;
    void setAlignment(PlatformTextAlignment alignment) override;
    void setBordered(bool bordered) override;
};

// A push button with an on/off state that every click flips before the gadget hears of it.
// A toggle button shows the state; a plain one only keeps it.
class QtButtonView final : public QPushButton, public QtView {
  public:
    QtButtonView(QWidget* parent, KyGadgetFunctions* functions);
    ~QtButtonView() override;

    std::string text() const override { return Title; }
    void setText(const std::string& text) override;
    int64_t intValue() const override { return State; }
    void setIntValue(int64_t value) override;
    void setAlignment(PlatformTextAlignment alignment) override;
    void setBordered(bool bordered) override { setFlat(!bordered); }

    void setToggles(bool toggles);
    // The bezel shape is kept for the layer; Qt draws one kind of push button.
    void setRounded(bool rounded) { Rounded = rounded; }
    bool rounded() const { return Rounded; }

  private:
    void clickedByUser();

    std::string Title;
    int64_t State = 0;
    bool Rounded = false;
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
        if (validated) setValidator(Validator);
    }

    // From taking the focus until it leaves (a window switch does not end it).
    bool Editing = false;
    QtTextValidatorAdapter* Validator;
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
    double minimumValue() const { return Minimum; }
    double maximumValue() const { return Maximum; }
    void setTickMarks(int64_t count, bool snap);

  private:
    void valueChangedTo(int value);
    // Runs change with the value's reports switched off.
    template <typename Change>
    void programChange(Change&& change) {
        const bool outer = ProgramChange;
        ProgramChange = true;
        change();
        ProgramChange = outer;
    }
    int snapped(int value) const;

    double Minimum = 0;
    double Maximum = 1;
    int64_t TickCount = 0;
    bool Snap = false;
    bool ProgramChange = false;
};
