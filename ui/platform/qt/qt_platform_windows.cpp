// The window part of QtUiPlatform.
#include <QApplication>
#include <QScreen>

#include "ui/platform/qt/qt_convert.h"
#include "ui/platform/qt/qt_layer_call.h"
#include "ui/platform/qt/qt_menus.h"
#include "ui/platform/qt/qt_platform.h"
#include "ui/platform/qt/qt_views.h"
#include "ui/platform/qt/qt_window.h"

PlatformRect QtUiPlatform::mainScreenFrame() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? ToPlatformRect(screen->geometry()) : PlatformRect{};
}

PlatformRect QtUiPlatform::frameRectForContentRect(PlatformRect content,
                                                   PlatformWindowStyle style) {
    const QMargins margins = QtWindow::estimatedMargins(style);
    return {content.x - margins.left(), content.y - margins.top(),
            content.width + margins.left() + margins.right(),
            content.height + margins.top() + margins.bottom()};
}

PlatformWindow* QtUiPlatform::createWindow(PlatformRect content, PlatformWindowStyle style) {
    if (!hasWidgets_) return nullptr;
    auto* window = new QtWindow(style, [this](QtWindow* granted) { closeWindowNow(granted); });
    window->setContentRect(ToQRect(content));
    if (appMenu_) appMenu_->addShortcutsTo(window);
    return window->handle();
}

void QtUiPlatform::setWindowDelegate(PlatformWindow* window, KyWindowEvents* delegate) {
    if (QtWindow* live = QtWindow::fromHandle(window)) live->setDelegate(delegate);
}

void QtUiPlatform::setWindowTitle(PlatformWindow* window, const std::string& title) {
    if (QtWindow* live = QtWindow::fromHandle(window)) live->setWindowTitle(ToQString(title));
}

PlatformRect QtUiPlatform::windowFrame(PlatformWindow* window) {
    QtWindow* live = QtWindow::fromHandle(window);
    return live != nullptr ? ToPlatformRect(live->frameRect()) : PlatformRect{};
}

void QtUiPlatform::setWindowFrame(PlatformWindow* window, PlatformRect frame) {
    if (QtWindow* live = QtWindow::fromHandle(window)) live->setFrameRect(ToQRect(frame));
}

void QtUiPlatform::centerWindow(PlatformWindow* window) {
    if (QtWindow* live = QtWindow::fromHandle(window)) live->centerOnScreen();
}

void QtUiPlatform::showWindow(PlatformWindow* window, bool activate) {
    QtWindow* live = QtWindow::fromHandle(window);
    if (live == nullptr) return;
    if (!activate) {
        live->setAttribute(Qt::WA_ShowWithoutActivating, true);
        live->show();
        live->setAttribute(Qt::WA_ShowWithoutActivating, false);
        return;
    }
    live->show();
    live->raise();
    live->activateWindow();
    // The window system activates it a little later; until then it counts as the key window.
    live->noteActivated();
}

void QtUiPlatform::miniaturizeWindow(PlatformWindow* window) {
    if (QtWindow* live = QtWindow::fromHandle(window)) {
        live->setWindowState(live->windowState() | Qt::WindowMinimized);
    }
}

void QtUiPlatform::zoomWindow(PlatformWindow* window) {
    if (QtWindow* live = QtWindow::fromHandle(window)) live->zoom();
}

bool QtUiPlatform::isWindowVisible(PlatformWindow* window) {
    QtWindow* live = QtWindow::fromHandle(window);
    return live != nullptr && live->isVisible() && !live->isMinimized();
}

bool QtUiPlatform::isWindowZoomed(PlatformWindow* window) {
    QtWindow* live = QtWindow::fromHandle(window);
    return live != nullptr && live->isMaximized();
}

bool QtUiPlatform::isWindowResizable(PlatformWindow* window) {
    QtWindow* live = QtWindow::fromHandle(window);
    return live != nullptr && live->style().resizable;
}

PlatformWindow* QtUiPlatform::keyWindow() {
    if (const QWidget* active = QApplication::activeWindow()) {
        // Another window (an alert) being active means none of the layer's is key.
        QtWindow* live = QtWindow::fromWidget(active);
        return live != nullptr ? live->handle() : nullptr;
    }
    // No window is active yet (activation is on its way) or the application is in the
    // background: the window activated last is still the key window.
    QtWindow* last = QtWindow::lastActivated();
    return last != nullptr && last->isVisible() ? last->handle() : nullptr;
}

void QtUiPlatform::makeKeyWindow(PlatformWindow* window) {
    QtWindow* live = QtWindow::fromHandle(window);
    if (live == nullptr || !live->isVisible()) return;
    live->raise();
    live->activateWindow();
    live->noteActivated();
}

void QtUiPlatform::addChildWindow(PlatformWindow* parent, PlatformWindow* child) {
    QtWindow* liveParent = QtWindow::fromHandle(parent);
    QtWindow* liveChild = QtWindow::fromHandle(child);
    if (liveParent == nullptr || liveChild == nullptr || liveParent == liveChild) return;
    liveChild->setParentWindow(liveParent);
}

void QtUiPlatform::removeChildWindow(PlatformWindow* parent, PlatformWindow* child) {
    QtWindow* liveParent = QtWindow::fromHandle(parent);
    QtWindow* liveChild = QtWindow::fromHandle(child);
    if (liveParent == nullptr || liveChild == nullptr) return;
    if (liveChild->parentWindow() == liveParent) liveChild->setParentWindow(nullptr);
}

PlatformWindow* QtUiPlatform::parentWindow(PlatformWindow* window) {
    QtWindow* live = QtWindow::fromHandle(window);
    QtWindow* parent = live != nullptr ? live->parentWindow() : nullptr;
    return parent != nullptr ? parent->handle() : nullptr;
}

void QtUiPlatform::closeWindow(PlatformWindow* window) {
    if (QtWindow* live = QtWindow::fromHandle(window)) closeWindowNow(live);
}

std::vector<QtView*> QtUiPlatform::viewsOf(const QtWindow* window) const {
    std::vector<QtView*> views;
    for (QtView* view : QtView::liveViews()) {
        if (view->widget()->window() == window) views.push_back(view);
    }
    return views;
}

void QtUiPlatform::closeWindowNow(QtWindow* window) {
    if (!window->beginClosing()) return;
    // The delegate ends itself in windowWillClose.
    KyWindowEvents* delegate = window->delegate();
    window->setDelegate(nullptr);
    if (delegate != nullptr) {
        LayerCall scope;
        delegate->windowWillClose();
    }
    for (QtWindow* other : QtWindow::liveWindows()) {
        if (other->parentWindow() == window) other->setParentWindow(nullptr);
    }
    // A bar installed here stays installed, showing nowhere until it is installed again.
    if (installedWindow_ == window) installedWindow_ = nullptr;
    window->setApplicationMenu(nullptr);
    for (QtView* view : viewsOf(window))
        view->retire();
    window->retire();
    retireWidget(window);
}
