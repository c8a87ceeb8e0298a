#include "ui/platform/qt/qt_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QWindowStateChangeEvent>
#include <unordered_map>

#include "ui/platform/qt/qt_convert.h"
#include "ui/platform/qt/qt_menu_placement.h"

namespace {

// Live windows by their widget; a handle or widget is looked up here before it is used.
std::unordered_map<const QWidget*, QtWindow*>& Registry() {
    static std::unordered_map<const QWidget*, QtWindow*> windows;
    return windows;
}

QPointer<QWidget>& LastActivated() {
    static QPointer<QWidget> window;
    return window;
}

// Decorations seen on a window that was on screen; the best estimate for the next one.
QMargins& LearnedMargins() {
    static QMargins margins;
    return margins;
}

// A title bar and thin borders, for a titled window before any window has been on screen.
constexpr QMargins kTypicalDecorations(1, 28, 1, 1);

Qt::WindowFlags FlagsForStyle(const PlatformWindowStyle& style) {
    Qt::WindowFlags flags = Qt::Window;
    if (!style.titled) return flags | Qt::FramelessWindowHint;
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (style.closable) flags |= Qt::WindowCloseButtonHint;
    if (style.miniaturizable) flags |= Qt::WindowMinimizeButtonHint;
    if (style.resizable) flags |= Qt::WindowMaximizeButtonHint;
    return flags;
}

}  // namespace

// --- content area --------------------------------------------------------------------------

QtContentArea::QtContentArea(QtWindow* owner) : QWidget(owner), owner_(owner) {}

void QtContentArea::mousePressEvent(QMouseEvent* event) {
    // Taking the press makes the release come here too.
    clickCount_ = 1;
    event->accept();
}

void QtContentArea::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt sends this instead of the second press of a double click.
    clickCount_ = 2;
    event->accept();
}

void QtContentArea::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    owner_->reportMouseUp(event->button(), clickCount_);
}

// --- window --------------------------------------------------------------------------------

QtWindow::QtWindow(const PlatformWindowStyle& style, CloseHandler closeGranted)
    : QMainWindow(nullptr, FlagsForStyle(style)),
      style_(style),
      closeGranted_(std::move(closeGranted)),
      content_(new QtContentArea(this)) {
    setCentralWidget(content_);
    // The window's own menu bar: inside the window, above the content area, or on macOS the
    // screen's menu bar, outside the window (qt_menu_placement.h).
    bar_ = menuBar();
    bar_->setNativeMenuBar(kApplicationMenuPlacement == QtMenuPlacement::Native);
    bar_->hide();
    Registry().emplace(this, this);
}

QtWindow::~QtWindow() {
    retire();
}

QtWindow* QtWindow::fromHandle(PlatformWindow* handle) {
    // Only compared, never dereferenced, unless it names a live window.
    const auto* candidate = reinterpret_cast<const QtWindow*>(handle);
    for (const auto& [widget, window] : Registry()) {
        if (window == candidate) return window;
    }
    return nullptr;
}

QtWindow* QtWindow::fromWidget(const QWidget* widget) {
    const auto found = Registry().find(widget);
    return found != Registry().end() ? found->second : nullptr;
}

std::vector<QtWindow*> QtWindow::liveWindows() {
    std::vector<QtWindow*> windows;
    for (const auto& [widget, window] : Registry())
        windows.push_back(window);
    return windows;
}

QtWindow* QtWindow::lastActivated() {
    const QObject* last = LastActivated().get();
    for (const auto& [widget, window] : Registry()) {
        if (widget == last) return window;
    }
    return nullptr;
}

void QtWindow::noteActivated() {
    LastActivated() = this;
}

bool QtWindow::beginClosing() {
    if (closing_ || retired_) return false;
    closing_ = true;
    return true;
}

void QtWindow::retire() {
    closing_ = true;
    retired_ = true;
    delegate_ = nullptr;
    Registry().erase(this);
}

// --- geometry ------------------------------------------------------------------------------

QMargins QtWindow::estimatedMargins(const PlatformWindowStyle& style) {
    if (!style.titled) return {};
    return LearnedMargins().isNull() ? kTypicalDecorations : LearnedMargins();
}

QMargins QtWindow::decorationMargins() const {
    if (!style_.titled) return {};
    const QWindow* native = windowHandle();
    if (native != nullptr && native->isVisible()) {
        const QMargins real = native->frameMargins();
        if (!real.isNull()) {
            LearnedMargins() = real;
            return real;
        }
    }
    return estimatedMargins(style_);
}

QRect QtWindow::contentRect() const {
    return geometry().adjusted(0, menuBarHeight(), 0, 0);
}

void QtWindow::setContentRect(const QRect& content) {
    applyClientGeometry(content.adjusted(0, -menuBarHeight(), 0, 0));
}

QRect QtWindow::frameRect() const {
    return geometry().marginsAdded(decorationMargins());
}

void QtWindow::setFrameRect(const QRect& frame) {
    applyClientGeometry(frame.marginsRemoved(decorationMargins()));
}

void QtWindow::applyClientGeometry(const QRect& client) {
    if (style_.resizable) {
        setGeometry(client);
        return;
    }
    // A window the user cannot resize keeps a fixed size, which only the program changes.
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setGeometry(client);
    setFixedSize(client.size());
}

QRect QtWindow::zoomTarget(bool enlarge) const {
    if (!enlarge) return normalGeometry().marginsAdded(decorationMargins());
    const QScreen* shown = screen();
    return shown != nullptr ? shown->availableGeometry() : frameRect();
}

void QtWindow::zoom() {
    if (closing_ || retired_) return;
    const bool enlarge = !isMaximized();
    bool allowed = true;
    report([&](KyWindowEvents& delegate) {
        allowed = delegate.windowShouldZoom(ToPlatformRect(zoomTarget(enlarge)));
    });
    if (!allowed || closing_ || retired_) return;
    programZoom_ = true;
    setWindowState(windowState() ^ Qt::WindowMaximized);
    programZoom_ = false;
}

// --- menu bar, default button, parent --------------------------------------------------------

QRect QtWindow::centredFrame() const {
    QRect frame = frameRect();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return frame;
    const QRect area = screen->availableGeometry();
    frame.moveTopLeft(QPoint(area.x() + (area.width() - frame.width()) / 2,
                             area.y() + (area.height() - frame.height()) / 2));
    return frame;
}

void QtWindow::centerOnScreen() {
    setFrameRect(centredFrame());
}

void QtWindow::setApplicationMenu(QMenu* menu) {
    if (menu == appMenu_ && showsMenuBar_ == (menu != nullptr)) return;
    const QRect content = contentRect();
    // A centred window stays centred as it is with or without the bar.
    const bool centred = frameRect() == centredFrame();
    if (appMenu_ != nullptr) bar_->removeAction(appMenu_->menuAction());
    appMenu_ = menu;
    showsMenuBar_ = menu != nullptr;
    if (showsMenuBar_) {
        bar_->addMenu(menu);
        // A fixed height keeps the content area's size exact, however the bar would wrap. A
        // bar outside the window takes no room in it.
        menuBarHeight_ = bar_->isNativeMenuBar() ? 0 : bar_->sizeHint().height();
        if (!bar_->isNativeMenuBar()) bar_->setFixedHeight(menuBarHeight_);
    }
    bar_->setVisible(showsMenuBar_);
    // The content keeps its size; any other frame keeps its top-left corner.
    applyClientGeometry(
        QRect(geometry().topLeft(), QSize(content.width(), content.height() + menuBarHeight())));
    if (centred) centerOnScreen();
}

QMenu* QtWindow::applicationMenu() const {
    return appMenu_.data();
}

void QtWindow::setDefaultButton(QPushButton* button) {
    if (defaultButton_ != nullptr && defaultButton_ != button) defaultButton_->setDefault(false);
    defaultButton_ = button;
    if (button != nullptr) button->setDefault(true);
}

QPushButton* QtWindow::defaultButton() const {
    return defaultButton_.data();
}

void QtWindow::setParentWindow(QtWindow* parent) {
    parentWindow_ = parent;
    linkTransientParent();
}

QtWindow* QtWindow::parentWindow() const {
    const QObject* parent = parentWindow_.get();
    for (const auto& [widget, window] : Registry()) {
        if (widget == parent) return window;
    }
    return nullptr;
}

void QtWindow::linkTransientParent() {
    QWindow* native = windowHandle();
    if (native == nullptr) return;
    QtWindow* parent = parentWindow();
    // A child window stays above its parent.
    native->setTransientParent(parent != nullptr ? parent->windowHandle() : nullptr);
}

// --- notifications -------------------------------------------------------------------------

void QtWindow::reportMouseUp(Qt::MouseButton button, int clickCount) {
    if (button == Qt::LeftButton) {
        report([clickCount](KyWindowEvents& delegate) { delegate.contentMouseUp(clickCount); });
    } else if (button == Qt::RightButton) {
        report(
            [clickCount](KyWindowEvents& delegate) { delegate.contentRightMouseUp(clickCount); });
    }
}

void QtWindow::closeEvent(QCloseEvent* event) {
    // Qt never closes the window by itself; the binding does, when the delegate agrees.
    event->ignore();
    if (closing_ || retired_ || !style_.closable) return;
    bool granted = true;
    report([&granted](KyWindowEvents& delegate) { granted = delegate.windowShouldClose(); });
    if (granted && !closing_ && !retired_ && closeGranted_) closeGranted_(this);
}

void QtWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    report([](KyWindowEvents& delegate) { delegate.windowDidMove(); });
}

void QtWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    report([](KyWindowEvents& delegate) { delegate.windowDidResize(); });
}

void QtWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        const bool active = isActiveWindow();
        if (active == reportedActive_) return;
        reportedActive_ = active;
        if (active) noteActivated();
        report([active](KyWindowEvents& delegate) {
            if (active) {
                delegate.windowDidBecomeKey();
            } else {
                delegate.windowDidResignKey();
            }
        });
        return;
    }
    if (event->type() != QEvent::WindowStateChange) return;
    const Qt::WindowStates before = static_cast<QWindowStateChangeEvent*>(event)->oldState();
    const Qt::WindowStates now = windowState();
    const bool wasMinimized = before.testFlag(Qt::WindowMinimized);
    const bool isMinimizedNow = now.testFlag(Qt::WindowMinimized);
    if (!wasMinimized && isMinimizedNow) {
        report([](KyWindowEvents& delegate) { delegate.windowDidMiniaturize(); });
    } else if (wasMinimized && !isMinimizedNow) {
        report([](KyWindowEvents& delegate) { delegate.windowDidDeminiaturize(); });
    }
    // A zoom by the window system's own button: the delegate learns of it as the program's
    // zoom does, so the resize that follows reports it.
    const bool maximizedChanged =
        before.testFlag(Qt::WindowMaximized) != now.testFlag(Qt::WindowMaximized);
    if (maximizedChanged && !programZoom_ && !isMinimizedNow) {
        const QRect target = zoomTarget(now.testFlag(Qt::WindowMaximized));
        report([&target](KyWindowEvents& delegate) {
            delegate.windowShouldZoom(ToPlatformRect(target));
        });
    }
}

void QtWindow::keyPressEvent(QKeyEvent* event) {
    const bool returnKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    QPushButton* button = defaultButton_.data();
    if (returnKey && button != nullptr && button->isVisible() && button->isEnabled()) {
        event->accept();
        button->click();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void QtWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    linkTransientParent();
}
