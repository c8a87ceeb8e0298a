#include "ui/platform/qt/qt_views.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPalette>
#include <QWidget>
#include <algorithm>
#include <climits>
#include <cmath>
#include <unordered_set>

#include "runtime/number_text.h"
#include "ui/platform/qt/qt_convert.h"

// --- the link to the gadget -----------------------------------------------------------------

namespace {

std::unordered_set<QtView*>& Registry() {
    static std::unordered_set<QtView*> views;
    return views;
}

}  // namespace

QtView::QtView(QWidget* widget, PlatformViewKind kind, KyGadgetFunctions* functions)
    : widget_(widget), kind_(kind), functions_(functions) {
    Registry().insert(this);
}

QtView::~QtView() {
    unregister();
}

QtView* QtView::fromHandle(PlatformView* handle) {
    // Only compared, never dereferenced, unless it names a live view.
    auto* candidate = reinterpret_cast<QtView*>(handle);
    return Registry().count(candidate) != 0 ? candidate : nullptr;
}

std::vector<QtView*> QtView::liveViews() {
    return std::vector<QtView*>(Registry().begin(), Registry().end());
}

void QtView::unregister() {
    Registry().erase(this);
}

void QtView::retire() {
    unregister();
    detachFromGadget();
    KyGadgetFunctions* functions = functions_;
    functions_ = nullptr;
    if (functions != nullptr) {
        LayerCall scope;
        functions->viewDestroyed();
    }
}

void QtView::silence() {
    unregister();
    detachFromGadget();
    functions_ = nullptr;
}

int64_t QtView::intValue() const {
    return TextIntValue(text());
}

void QtView::setIntValue(int64_t value) {
    setText(std::to_string(value));
}

void QtView::setFrame(const QRect& frame) {
    widget_->setGeometry(frame);
}

void QtView::setGreyed(bool greyed) {
    greyed_ = greyed;
    if (!greyed) {
        // An empty palette resolves nothing: the widget takes its parent's colours again.
        widget_->setPalette(QPalette());
        return;
    }
    QPalette palette = widget_->palette();
    const QPalette::ColorRole role = widget_->foregroundRole();
    const QColor disabled = palette.color(QPalette::Disabled, role);
    palette.setColor(QPalette::Active, role, disabled);
    palette.setColor(QPalette::Inactive, role, disabled);
    widget_->setPalette(palette);
}

int64_t TextIntValue(const std::string& text) {
    const LeadingInteger read =
        ReadLeadingInteger(text, LeadingBlanks::AnyWhitespace, LeadingSign::Allowed);
    return ClampLeadingInteger(read, INT32_MIN, INT32_MAX);
}

// --- the text validator ---------------------------------------------------------------------

QValidator::State QtTextValidatorAdapter::validate(QString& input, int& position) const {
    if (target_ == nullptr) return Acceptable;
    LayerCall call;
    const std::string proposed = ToStdString(input);
    std::string replacement;
    bool replaced = false;
    if (target_->isPartialStringValid(proposed, &replacement, &replaced)) return Acceptable;
    if (!replaced) return Invalid;
    if (replacement == proposed) return Acceptable;

    // The field validates a replacement once more before it shows it; a replacement the
    // validator would not keep would make the two disagree forever, so it counts as a reject.
    std::string second;
    bool secondReplaced = false;
    const bool kept = target_->isPartialStringValid(replacement, &second, &secondReplaced) ||
                      (secondReplaced && second == replacement);
    if (!kept) return Invalid;

    const QString shown = ToQString(replacement);
    // The caret stays where it was relative to the end when the length changed.
    const qsizetype fromEnd = input.size() - position;
    qsizetype caret = shown.size() == input.size() ? position : shown.size() - fromEnd;
    if (caret < 0) caret = 0;
    if (caret > shown.size()) caret = shown.size();
    input = shown;
    position = static_cast<int>(caret);
    return Acceptable;
}

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
    const QString shown = ToQString(text);
    // An unchanged text costs no repaint.
    if (shown != QLabel::text()) QLabel::setText(shown);
}

void QtLabelView::paintEvent(QPaintEvent* event) {
    // The cached glyphs cover a plain label: no frame, margin or indent, left to right, enabled.
    if (frameWidth() == 0 && margin() == 0 && indent() <= 0 && isEnabled() &&
        layoutDirection() == Qt::LeftToRight) {
        QPainter painter(this);
        const QColor colour = palette().color(QPalette::Active, foregroundRole());
        if (glyphs_.Draw(painter, font(), colour, contentsRect(), alignment(), QLabel::text()))
            return;
        painter.end();  // nothing drawn: QLabel paints with a painter of its own
    }
    QLabel::paintEvent(event);
}

void QtLabelView::setFrame(const QRect& frame) {
    // A label keeps the size it is given: a new text then repaints it alone, without asking
    // its window to lay out again.
    setFixedSize(frame.size());
    setGeometry(frame);
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
    title_ = text;
    // "&" marks a mnemonic in a Qt button title; the title shows it as typed.
    QPushButton::setText(ToQString(text).replace(QLatin1Char('&'), QLatin1String("&&")));
}

void QtButtonView::setIntValue(int64_t value) {
    state_ = value != 0 ? 1 : 0;
    if (isCheckable()) setChecked(state_ != 0);
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
    if (toggles) setChecked(state_ != 0);
}

void QtButtonView::clickedByUser() {
    // The state flips first, so that the gadget reads the new state while it handles the press.
    state_ = state_ != 0 ? 0 : 1;
    if (isCheckable() && isChecked() != (state_ != 0)) setChecked(state_ != 0);
    report([this](KyGadgetFunctions& functions) { functions.EventHandler(handle()); });
}

// --- text field ----------------------------------------------------------------------------

QtTextFieldView::QtTextFieldView(QWidget* parent, bool secure, KyGadgetFunctions* functions)
    : QLineEdit(parent),
      QtView(this, secure ? PlatformViewKind::SecureField : PlatformViewKind::TextField, functions),
      validator_(new QtTextValidatorAdapter(this)) {
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
    validator_->setTarget(validator);
    setValidator(validator != nullptr ? validator_ : nullptr);
}

void QtTextFieldView::detachFromGadget() {
    // The validator belongs to the gadget, which may go away with the view's end.
    validator_->setTarget(nullptr);
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
    if (editing_ && WindowFocusChange(event->reason())) return;
    editing_ = true;
    report([](KyGadgetFunctions& functions) { functions.becomeFirstResponder(); });
}

void QtTextFieldView::focusOutEvent(QFocusEvent* event) {
    // QLineEdit checks the whole text here; that is no edit, so the validator is not asked.
    unvalidated([this, event] { QLineEdit::focusOutEvent(event); });
    if (!editing_ || WindowFocusChange(event->reason())) return;
    editing_ = false;
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
    setIntValue(TextIntValue(text));
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
    minimum_ = minimum;
    maximum_ = maximum;
    programChange(
        [this] { QAbstractSlider::setRange(SliderPosition(minimum_), SliderPosition(maximum_)); });
    setTickMarks(tickCount_, snap_);
}

void QtSliderView::setTickMarks(int64_t count, bool snap) {
    tickCount_ = count < 0 ? 0 : count;
    snap_ = snap;
    if (tickCount_ == 0) {
        setTickPosition(QSlider::NoTicks);
        return;
    }
    const double span = maximum_ - minimum_;
    const double step = tickCount_ > 1 ? span / static_cast<double>(tickCount_ - 1) : span;
    const int interval = std::max(1, SliderPosition(step));
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(interval);
    if (snap_) {
        setSingleStep(interval);
        setPageStep(interval);
        programChange([this] { setValue(snapped(value())); });
    }
}

int QtSliderView::snapped(int value) const {
    if (!snap_ || tickCount_ < 2) return value;
    const double step = (maximum_ - minimum_) / static_cast<double>(tickCount_ - 1);
    if (!(step > 0)) return value;
    const double tick = std::round((value - minimum_) / step);
    return std::clamp(SliderPosition(minimum_ + tick * step), minimum(), maximum());
}

void QtSliderView::valueChangedTo(int value) {
    if (programChange_) return;
    const int onTick = snapped(value);
    if (onTick != value) programChange([this, onTick] { setValue(onTick); });
    report([this](KyGadgetFunctions& functions) { functions.EventHandler(handle()); });
}
