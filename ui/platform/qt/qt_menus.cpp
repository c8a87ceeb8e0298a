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

QtApplicationMenu::QtApplicationMenu(const std::string& name, KyMenuDelegate* delegate,
                                     QtMenuPlacement placement)
    : menu_(std::make_unique<QMenu>(Literal(name))), delegate_(delegate) {
    about_ = menu_->addAction(QStringLiteral("About ") + Literal(name));
    menu_->addSeparator();
    preferences_ = menu_->addAction(QStringLiteral("Preferences") + QChar(0x2026));
    preferences_->setShortcuts(QKeySequence::Preferences);
    menu_->addSeparator();
    quit_ = menu_->addAction(QStringLiteral("Quit ") + Literal(name));
    quit_->setShortcuts(QuitKeys());

    for (QAction* entry : {about_, preferences_, quit_})
        entry->setShortcutContext(Qt::ApplicationShortcut);
    const bool native = placement == QtMenuPlacement::Native;
    about_->setMenuRole(native ? QAction::AboutRole : QAction::NoRole);
    preferences_->setMenuRole(native ? QAction::PreferencesRole : QAction::NoRole);
    quit_->setMenuRole(native ? QAction::QuitRole : QAction::NoRole);
    about_->setEnabled(false);
    preferences_->setEnabled(false);

    // The actions are the menu's children, so the connections end with the menu.
    QObject::connect(about_, &QAction::triggered, menu_.get(), [this] {
        if (delegate_ == nullptr) return;
        LayerCall scope;
        delegate_->about();
    });
    QObject::connect(preferences_, &QAction::triggered, menu_.get(), [this] {
        if (delegate_ == nullptr) return;
        LayerCall scope;
        delegate_->preferences();
    });
    QObject::connect(quit_, &QAction::triggered, menu_.get(), [this] {
        if (delegate_ == nullptr) return;
        LayerCall scope;
        delegate_->terminate();
    });
}

QtApplicationMenu::~QtApplicationMenu() = default;

QAction* QtApplicationMenu::action(PlatformAppMenuItem item) const {
    switch (item) {
        case PlatformAppMenuItem::About:
            return about_;
        case PlatformAppMenuItem::Preferences:
            return preferences_;
        case PlatformAppMenuItem::Quit:
            break;
    }
    return quit_;
}

void QtApplicationMenu::setItemEnabled(PlatformAppMenuItem item, bool enabled) {
    if (item == PlatformAppMenuItem::Quit) return;
    action(item)->setEnabled(enabled);
}

void QtApplicationMenu::addShortcutsTo(QWidget* window) const {
    window->addAction(preferences_);
    window->addAction(quit_);
}

// --- the menu part of QtUiPlatform ---------------------------------------------------------

void QtUiPlatform::buildApplicationMenu(const std::string& name, KyMenuDelegate* delegate) {
    if (appMenu_ || !hasWidgets_) return;
    applicationName_ = name;
    appMenu_ = std::make_unique<QtApplicationMenu>(name, delegate);
    for (QtWindow* window : QtWindow::liveWindows())
        appMenu_->addShortcutsTo(window);
    showApplicationMenu();
}

void QtUiPlatform::setAppMenuItemEnabled(PlatformAppMenuItem item, bool enabled) {
    if (appMenu_) appMenu_->setItemEnabled(item, enabled);
}

PlatformMenuBar* QtUiPlatform::createMenuBar() {
    menuBars_.push_back(std::make_unique<QtMenuBar>());
    return menuBars_.back()->handle();
}

QtMenuBar* QtUiPlatform::liveMenuBar(PlatformMenuBar* bar) const {
    for (const auto& candidate : menuBars_) {
        if (candidate->handle() == bar) return candidate.get();
    }
    return nullptr;
}

void QtUiPlatform::destroyMenuBar(PlatformMenuBar* bar) {
    QtMenuBar* live = liveMenuBar(bar);
    if (live == nullptr) return;
    if (installedBar_ == live) {
        installedBar_ = nullptr;
        installedWindow_ = nullptr;
        showApplicationMenu();
    }
    menuBars_.erase(std::find_if(menuBars_.begin(), menuBars_.end(), [live](const auto& candidate) {
        return candidate.get() == live;
    }));
}

void QtUiPlatform::installMenuBar(PlatformMenuBar* bar, PlatformWindow* window) {
    QtMenuBar* live = liveMenuBar(bar);
    if (bar != nullptr && live == nullptr) return;
    installedBar_ = live;
    installedWindow_ = live != nullptr ? QtWindow::fromHandle(window) : nullptr;
    showApplicationMenu();
}

PlatformMenuBar* QtUiPlatform::installedMenuBar() {
    return installedBar_ != nullptr ? installedBar_->handle() : nullptr;
}

void QtUiPlatform::showApplicationMenu() {
    QMenu* menu = appMenu_ ? appMenu_->menu() : nullptr;
    const QWidget* target = installedBar_ != nullptr ? installedWindow_.data() : nullptr;
    // The one application menu moves into the installed bar's window and out of every other.
    for (QtWindow* window : QtWindow::liveWindows()) {
        window->setApplicationMenu(window == target ? menu : nullptr);
    }
}
