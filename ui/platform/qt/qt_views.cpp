#include "ui/platform/qt/qt_views.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <algorithm>
#include <climits>
#include <cmath>

#include "ui/platform/qt/qt_convert.h"

namespace {

Qt::Alignment HorizontalAlignment(PlatformTextAlignment alignment) {
    switch (alignment) {
        case PlatformTextAlignment::Left:
            return Qt::AlignLeft | Qt::AlignAbsolute;
        case PlatformTextAlignment::Right:
            return Qt::AlignRight | Qt::AlignAbsolute;
        case PlatformTextAlignment::Center:
            return Qt::AlignHCenter;
        case PlatformTextAlignment::Natural:
            break;
    }
    return Qt::AlignLeading;
}

// A slider position: whole steps inside the int range.
int SliderPosition(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<int>(std::lround(std::clamp(value, double{INT_MIN}, double{INT_MAX})));
}

}  // namespace

// --- label ---------------------------------------------------------------------------------

QtLabelView::QtLabelView(QWidget* parent, KyGadgetFunctions* functions)
    : QLabel(parent), QtView(this, PlatformViewKind::Label, functions) {
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
    QLabel::setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
}

QtLabelView::~QtLabelView() {
    retire();
}

std::string QtLabelView::text() const {
    return ToStdString(QLabel::text());
}

void QtLabelView::setText(const std::string& text) {
    QLabel::setText(ToQString(text));
}

void QtLabelView::setAlignment(PlatformTextAlignment alignment) {
    QLabel::setAlignment(HorizontalAlignment(alignment) | Qt::AlignVCenter);
}

void QtLabelView::setBordered(bool bordered) {
    setFrameShape(bordered ? QFrame::Box : QFrame::NoFrame);
}

// --- button --------------------------------------------------------------------------------

QtButtonView::QtButtonView(QWidget* parent, KyGadgetFunctions* functions)
    : QPushButton(parent), QtView(this, PlatformViewKind::Button, functions) {
    connect(this, &QAbstractButton::clicked, this, [this] { clickedByUser(); });
}

QtButtonView::~QtButtonView() {
    retire();
}

void QtButtonView::setText(const std::string& text) {
    Title = text;
    // "&" marks a mnemonic in a Qt button title; the title shows it as typed.
    QPushButton::setText(ToQString(text).replace(QLatin1Char('&'), QLatin1String("&&")));
}

void QtButtonView::setIntValue(int64_t value) {
    State = value != 0 ? 1 : 0;
    if (isCheckable()) setChecked(State != 0);
}

void QtButtonView::setAlignment(PlatformTextAlignment alignment) {
    switch (alignment) {
        case PlatformTextAlignment::Left:
            setStyleSheet(QStringLiteral("text-align: left;"));
            break;
        case PlatformTextAlignment::Right:
            setStyleSheet(QStringLiteral("text-align: right;"));
            break;
        case PlatformTextAlignment::Center:
        case PlatformTextAlignment::Natural:
            setStyleSheet(QString());
            break;
    }
}

void QtButtonView::setToggles(bool toggles) {
    setCheckable(toggles);
    if (toggles) setChecked(State != 0);
}

void QtButtonView::clickedByUser() {
    // The state flips first, so that the gadget reads the new state while it handles the press.
    State = State != 0 ? 0 : 1;
    if (isCheckable() && isChecked() != (State != 0)) setChecked(State != 0);
    report([this](KyGadgetFunctions& functions) { functions.EventHandler(handle()); });
}

// --- text field ----------------------------------------------------------------------------

QtTextFieldView::QtTextFieldView(QWidget* parent, bool secure, KyGadgetFunctions* functions)
    : QLineEdit(parent),
      QtView(this, secure ? PlatformViewKind::SecureField : PlatformViewKind::TextField, functions),
      Validator(new QtTextValidatorAdapter(this)) {
    setEchoMode(secure ? QLineEdit::Password : QLineEdit::Normal);
    // textEdited comes from the user's edits only (typing, deleting, cut, paste, undo), never
    // from setText.
    connect(this, &QLineEdit::textEdited, this, [this] {
        report([](KyGadgetFunctions& functions) { functions.controlTextDidChange(); });
    });
}

QtTextFieldView::~QtTextFieldView() {
    retire();
}

std::string QtTextFieldView::text() const {
    return ToStdString(QLineEdit::text());
}

void QtTextFieldView::setText(const std::string& text) {
    // A Qt field validates even the program's texts; the program's text stands as given.
    unvalidated([this, &text] { QLineEdit::setText(ToQString(text)); });
}

void QtTextFieldView::setAlignment(PlatformTextAlignment alignment) {
    QLineEdit::setAlignment(HorizontalAlignment(alignment) | Qt::AlignVCenter);
}

void QtTextFieldView::setTextValidator(PlatformTextValidator* validator) {
    Validator->setTarget(validator);
    setValidator(validator != nullptr ? Validator : nullptr);
}

void QtTextFieldView::detachFromGadget() {
    // The validator belongs to the gadget, which may go away with the view's end.
    Validator->setTarget(nullptr);
    setValidator(nullptr);
}

namespace {

// Focus that moves with the whole window (switching windows, a popup) neither starts nor
// ends editing.
bool WindowFocusChange(Qt::FocusReason reason) {
    return reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
}

}  // namespace

void QtTextFieldView::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    if (Editing && WindowFocusChange(event->reason())) return;
    Editing = true;
    report([](KyGadgetFunctions& functions) { functions.becomeFirstResponder(); });
}

void QtTextFieldView::focusOutEvent(QFocusEvent* event) {
    // QLineEdit checks the whole text here; that is no edit, so the validator is not asked.
    unvalidated([this, event] { QLineEdit::focusOutEvent(event); });
    if (!Editing || WindowFocusChange(event->reason())) return;
    Editing = false;
    report([](KyGadgetFunctions& functions) { functions.textDidEndEditing(false); });
}

void QtTextFieldView::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    // Return ends the edit whatever the text is (QLineEdit would first validate the whole
    // text again); the field keeps the focus. The key goes on to the window, which presses
    // its default button.
    event->ignore();
    report([](KyGadgetFunctions& functions) { functions.textDidEndEditing(true); });
}

// --- slider --------------------------------------------------------------------------------

QtSliderView::QtSliderView(QWidget* parent, KyGadgetFunctions* functions)
    : QSlider(Qt::Horizontal, parent), QtView(this, PlatformViewKind::Slider, functions) {
    programChange([this] { QAbstractSlider::setRange(0, 1); });
    connect(this, &QAbstractSlider::valueChanged, this,
            [this](int value) { valueChangedTo(value); });
}

QtSliderView::~QtSliderView() {
    retire();
}

std::string QtSliderView::text() const {
    return std::to_string(value());
}

void QtSliderView::setText(const std::string& text) {
    setIntValue(LeadingInteger(text));
}

void QtSliderView::setIntValue(int64_t value) {
    const int64_t inRange = std::clamp<int64_t>(value, minimum(), maximum());
    programChange([this, inRange] { setValue(static_cast<int>(inRange)); });
}

void QtSliderView::setFrame(const QRect& frame) {
    setOrientation(frame.height() > frame.width() ? Qt::Vertical : Qt::Horizontal);
    setGeometry(frame);
}

void QtSliderView::setRange(double minimum, double maximum) {
    Minimum = minimum;
    Maximum = maximum;
    programChange(
        [this] { QAbstractSlider::setRange(SliderPosition(Minimum), SliderPosition(Maximum)); });
    setTickMarks(TickCount, Snap);
}

void QtSliderView::setTickMarks(int64_t count, bool snap) {
    TickCount = count < 0 ? 0 : count;
    Snap = snap;
    if (TickCount == 0) {
        setTickPosition(QSlider::NoTicks);
        return;
    }
    const double span = Maximum - Minimum;
    const double step = TickCount > 1 ? span / static_cast<double>(TickCount - 1) : span;
    const int interval = std::max(1, SliderPosition(step));
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(interval);
    if (Snap) {
        setSingleStep(interval);
        setPageStep(interval);
        programChange([this] { setValue(snapped(value())); });
    }
}

int QtSliderView::snapped(int value) const {
    if (!Snap || TickCount < 2) return value;
    const double step = (Maximum - Minimum) / static_cast<double>(TickCount - 1);
    if (!(step > 0)) return value;
    const double tick = std::round((value - Minimum) / step);
    return std::clamp(SliderPosition(Minimum + tick * step), minimum(), maximum());
}

void QtSliderView::valueChangedTo(int value) {
    if (ProgramChange) return;
    const int onTick = snapped(value);
    if (onTick != value) programChange([this, onTick] { setValue(onTick); });
    report([this](KyGadgetFunctions& functions) { functions.EventHandler(handle()); });
}
