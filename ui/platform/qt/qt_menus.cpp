#include "ui/platform/qt/qt_menus.h"

#include <algorithm>

#include <QKeySequence>
#include <QList>

#include "ui/platform/qt/qt_convert.h"
#include "ui/platform/qt/qt_layer_call.h"
#include "ui/platform/qt/qt_platform.h"
#include "ui/platform/qt/qt_window.h"

namespace {

// "&" marks a mnemonic in a Qt menu title; the name shows as it is.
QString Literal(const std::string& text) {
    return ToQString(text).replace(QLatin1Char('&'), QLatin1String("&&"));
}

// The platform's quit keys; Ctrl+Q where the platform names none.
QList<QKeySequence> QuitKeys() {
    QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::Quit);
    if (keys.isEmpty()) keys.append(QKeySequence(Qt::CTRL | Qt::Key_Q));
    return keys;
}

}  // namespace

QtApplicationMenu::QtApplicationMenu(const std::string& name, KyMenuDelegate* delegate)
    : Menu(std::make_unique<QMenu>(Literal(name))), Delegate(delegate) {
    About = Menu->addAction(QStringLiteral("About ") + Literal(name));
    Menu->addSeparator();
    Preferences = Menu->addAction(QStringLiteral("Preferences") + QChar(0x2026));
    Preferences->setShortcuts(QKeySequence::Preferences);
    Menu->addSeparator();
    Quit = Menu->addAction(QStringLiteral("Quit ") + Literal(name));
    Quit->setShortcuts(QuitKeys());

    for (QAction* entry : {About, Preferences, Quit}) {
        entry->setShortcutContext(Qt::ApplicationShortcut);
        entry->setMenuRole(QAction::NoRole);
    }
    About->setEnabled(false);
    Preferences->setEnabled(false);

    // The actions are the menu's children, so the connections end with the menu.
    QObject::connect(About, &QAction::triggered, Menu.get(), [this] {
        if (Delegate == nullptr) return;
        LayerCall scope;
        Delegate->about();
    });
    QObject::connect(Preferences, &QAction::triggered, Menu.get(), [this] {
        if (Delegate == nullptr) return;
        LayerCall scope;
        Delegate->preferences();
    });
    QObject::connect(Quit, &QAction::triggered, Menu.get(), [this] {
        if (Delegate == nullptr) return;
        LayerCall scope;
        Delegate->terminate();
    });
}

QtApplicationMenu::~QtApplicationMenu() = default;

QAction* QtApplicationMenu::action(PlatformAppMenuItem item) const {
    switch (item) {
        case PlatformAppMenuItem::About:
            return About;
        case PlatformAppMenuItem::Preferences:
            return Preferences;
        case PlatformAppMenuItem::Quit:
            break;
    }
    return Quit;
}

void QtApplicationMenu::setItemEnabled(PlatformAppMenuItem item, bool enabled) {
    if (item == PlatformAppMenuItem::Quit) return;
    action(item)->setEnabled(enabled);
}

void QtApplicationMenu::addShortcutsTo(QWidget* window) const {
    window->addAction(Preferences);
    window->addAction(Quit);
}

// --- the menu part of QtUiPlatform ---------------------------------------------------------

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
