// The view part of QtUiPlatform.
#include "ui/platform/qt/qt_convert.h"
#include "ui/platform/qt/qt_platform.h"
#include "ui/platform/qt/qt_views.h"
#include "ui/platform/qt/qt_window.h"

namespace {

QtButtonView* LiveButton(PlatformView* view) {
    return dynamic_cast<QtButtonView*>(QtView::fromHandle(view));
}

QtTextFieldView* LiveTextField(PlatformView* view) {
    return dynamic_cast<QtTextFieldView*>(QtView::fromHandle(view));
}

QtSliderView* LiveSlider(PlatformView* view) {
    return dynamic_cast<QtSliderView*>(QtView::fromHandle(view));
}

QtView* MakeView(PlatformViewKind kind, QWidget* parent, KyGadgetFunctions* functions) {
    switch (kind) {
        case PlatformViewKind::Label:
            return new QtLabelView(parent, functions);
        case PlatformViewKind::Button:
            return new QtButtonView(parent, functions);
        case PlatformViewKind::TextField:
            return new QtTextFieldView(parent, false, functions);
        case PlatformViewKind::SecureField:
            return new QtTextFieldView(parent, true, functions);
        case PlatformViewKind::Slider:
            return new QtSliderView(parent, functions);
    }
    return nullptr;
}

}  // namespace

PlatformView* QtUiPlatform::createView(PlatformWindow* window, PlatformViewKind kind,
                                       PlatformRect frame, KyGadgetFunctions* functions) {
    if (!hasWidgets_) return nullptr;
    QWidget* parent = orphanParent_.get();
    if (window != nullptr) {
        QtWindow* live = QtWindow::fromHandle(window);
        if (live == nullptr) return nullptr;
        parent = live->contentArea();
    }
    QtView* view = MakeView(kind, parent, functions);
    if (view == nullptr) return nullptr;
    // Buttons and sliders take the focus from the program only, not from a click, so that
    // clicking them leaves an edit in a text field going.
    if (kind == PlatformViewKind::Button || kind == PlatformViewKind::Slider) {
        view->widget()->setFocusPolicy(Qt::TabFocus);
    }
    view->setFrame(ToQRect(frame));
    view->widget()->show();
    return view->handle();
}

void QtUiPlatform::removeView(PlatformView* view) {
    QtView* live = QtView::fromHandle(view);
    if (live == nullptr) return;
    live->retire();
    retireWidget(live->widget());
}

PlatformWindow* QtUiPlatform::viewWindow(PlatformView* view) {
    QtView* live = QtView::fromHandle(view);
    QtWindow* window = live != nullptr ? QtWindow::fromWidget(live->widget()->window()) : nullptr;
    return window != nullptr ? window->handle() : nullptr;
}

std::string QtUiPlatform::viewText(PlatformView* view) {
    QtView* live = QtView::fromHandle(view);
    return live != nullptr ? live->text() : std::string();
}

void QtUiPlatform::setViewText(PlatformView* view, const std::string& text) {
    if (QtView* live = QtView::fromHandle(view)) live->setText(text);
}

int64_t QtUiPlatform::viewIntValue(PlatformView* view) {
    QtView* live = QtView::fromHandle(view);
    return live != nullptr ? live->intValue() : 0;
}

void QtUiPlatform::setViewIntValue(PlatformView* view, int64_t value) {
    if (QtView* live = QtView::fromHandle(view)) live->setIntValue(value);
}

void QtUiPlatform::setViewEnabled(PlatformView* view, bool enabled) {
    QtView* live = QtView::fromHandle(view);
    if (live == nullptr) return;
    QWidget* widget = live->widget();
    // As with hiding: the focus leaves the view instead of moving on to the next one.
    if (!enabled && widget->hasFocus()) widget->clearFocus();
    widget->setEnabled(enabled);
}

bool QtUiPlatform::isViewEnabled(PlatformView* view) {
    QtView* live = QtView::fromHandle(view);
    // The view's own setting, whatever its window's is.
    return live != nullptr && !live->widget()->testAttribute(Qt::WA_ForceDisabled);
}

void QtUiPlatform::setViewHidden(PlatformView* view, bool hidden) {
    QtView* live = QtView::fromHandle(view);
    if (live == nullptr) return;
    QWidget* widget = live->widget();
    // Hiding the focused view leaves the window without a focused view; Qt would hand the
    // focus to the next one.
    if (hidden && widget->hasFocus()) widget->clearFocus();
    widget->setHidden(hidden);
}

PlatformRect QtUiPlatform::viewFrame(PlatformView* view) {
    QtView* live = QtView::fromHandle(view);
    return live != nullptr ? ToPlatformRect(live->widget()->geometry()) : PlatformRect{};
}

void QtUiPlatform::setViewFrame(PlatformView* view, PlatformRect frame) {
    if (QtView* live = QtView::fromHandle(view)) live->setFrame(ToQRect(frame));
}

void QtUiPlatform::focusView(PlatformView* view) {
    QtView* live = QtView::fromHandle(view);
    if (live == nullptr) return;
    QWidget* widget = live->widget();
    QWidget* window = widget->window();
    if (QtWindow::fromWidget(window) != nullptr && window->isVisible()) {
        window->raise();
        window->activateWindow();
    }
    widget->setFocus(Qt::OtherFocusReason);
}

void QtUiPlatform::setViewAlignment(PlatformView* view, PlatformTextAlignment alignment) {
    if (QtView* live = QtView::fromHandle(view)) live->setAlignment(alignment);
}

void QtUiPlatform::setViewBordered(PlatformView* view, bool bordered) {
    if (QtView* live = QtView::fromHandle(view)) live->setBordered(bordered);
}

void QtUiPlatform::setViewEditable(PlatformView* view, bool editable) {
    if (QtView* live = QtView::fromHandle(view)) live->setEditable(editable);
}

void QtUiPlatform::setViewTextGreyed(PlatformView* view, bool greyed) {
    if (QtView* live = QtView::fromHandle(view)) live->setGreyed(greyed);
}

void QtUiPlatform::setTextValidator(PlatformView* view, PlatformTextValidator* validator) {
    if (QtTextFieldView* field = LiveTextField(view)) field->setTextValidator(validator);
}

void QtUiPlatform::setButtonRounded(PlatformView* view, bool rounded) {
    if (QtButtonView* button = LiveButton(view)) button->setRounded(rounded);
}

bool QtUiPlatform::isButtonRounded(PlatformView* view) {
    QtButtonView* button = LiveButton(view);
    return button != nullptr && button->rounded();
}

void QtUiPlatform::setButtonToggles(PlatformView* view, bool toggles) {
    if (QtButtonView* button = LiveButton(view)) button->setToggles(toggles);
}

void QtUiPlatform::setButtonDefault(PlatformView* view, bool isDefault) {
    QtButtonView* button = LiveButton(view);
    QtWindow* window = button != nullptr ? QtWindow::fromWidget(button->window()) : nullptr;
    if (window == nullptr) return;
    if (isDefault) {
        window->setDefaultButton(button);
    } else if (window->defaultButton() == button) {
        window->setDefaultButton(nullptr);
    }
}

void QtUiPlatform::setSliderRange(PlatformView* view, double minimum, double maximum) {
    if (QtSliderView* slider = LiveSlider(view)) slider->setRange(minimum, maximum);
}

double QtUiPlatform::sliderMinimum(PlatformView* view) {
    QtSliderView* slider = LiveSlider(view);
    return slider != nullptr ? slider->minimumValue() : 0;
}

double QtUiPlatform::sliderMaximum(PlatformView* view) {
    QtSliderView* slider = LiveSlider(view);
    return slider != nullptr ? slider->maximumValue() : 0;
}

void QtUiPlatform::setSliderTickMarks(PlatformView* view, int64_t count, bool snap) {
    if (QtSliderView* slider = LiveSlider(view)) slider->setTickMarks(count, snap);
}
