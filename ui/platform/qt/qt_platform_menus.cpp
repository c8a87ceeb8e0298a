// The menu part of QtUiPlatform.
#include <algorithm>

#include "ui/platform/qt/qt_menus.h"
#include "ui/platform/qt/qt_platform.h"
#include "ui/platform/qt/qt_window.h"

void QtUiPlatform::buildApplicationMenu(const std::string& name, KyMenuDelegate* delegate) {
    if (AppMenu || !HasWidgets) return;
    ApplicationName = name;
    AppMenu = std::make_unique<QtApplicationMenu>(name, delegate);
    for (QtWindow* window : QtWindow::liveWindows())
        AppMenu->addShortcutsTo(window);
    showApplicationMenu();
}

void QtUiPlatform::setAppMenuItemEnabled(PlatformAppMenuItem item, bool enabled) {
    if (AppMenu) AppMenu->setItemEnabled(item, enabled);
}

PlatformMenuBar* QtUiPlatform::createMenuBar() {
    MenuBars.push_back(std::make_unique<QtMenuBar>());
    return MenuBars.back()->handle();
}

QtMenuBar* QtUiPlatform::liveMenuBar(PlatformMenuBar* bar) const {
    for (const auto& candidate : MenuBars) {
        if (candidate->handle() == bar) return candidate.get();
    }
    return nullptr;
}

void QtUiPlatform::destroyMenuBar(PlatformMenuBar* bar) {
    QtMenuBar* live = liveMenuBar(bar);
    if (live == nullptr) return;
    if (InstalledBar == live) {
        InstalledBar = nullptr;
        InstalledWindow = nullptr;
        showApplicationMenu();
    }
    MenuBars.erase(std::find_if(MenuBars.begin(), MenuBars.end(),
                                [live](const auto& candidate) { return candidate.get() == live; }));
}

void QtUiPlatform::installMenuBar(PlatformMenuBar* bar, PlatformWindow* window) {
    QtMenuBar* live = liveMenuBar(bar);
    if (bar != nullptr && live == nullptr) return;
    InstalledBar = live;
    InstalledWindow = live != nullptr ? QtWindow::fromHandle(window) : nullptr;
    showApplicationMenu();
}

PlatformMenuBar* QtUiPlatform::installedMenuBar() {
    return InstalledBar != nullptr ? InstalledBar->handle() : nullptr;
}

void QtUiPlatform::showApplicationMenu() {
    QMenu* menu = AppMenu ? AppMenu->menu() : nullptr;
    const QWidget* target = InstalledBar != nullptr ? InstalledWindow.data() : nullptr;
    // The one application menu moves into the installed bar's window and out of every other.
    for (QtWindow* window : QtWindow::liveWindows()) {
        window->setApplicationMenu(window == target ? menu : nullptr);
    }
}
