// The application menu ("About <name>", "Preferences…", "Quit <name>") and the menu bars that
// show it. There is one application menu; a menu bar installed into a window shows it in that
// window's QMenuBar (on macOS the screen's menu bar, where the entries join the platform's
// application menu: qt_menu_placement.h). quit_ also answers its shortcut in every window of
// the binding, whichever window shows the menu. GUI thread only.
#pragma once

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <memory>
#include <string>

#include "ui/menus.h"
#include "ui/platform/qt/qt_menu_placement.h"
#include "ui/platform_interface.h"

class QtApplicationMenu {
  public:
    // Choosing an entry calls the delegate (owned by the layer, null: nothing). about_ and
    // preferences_ start disabled, quit_ enabled. Placed natively, the entries carry the menu
    // roles that move them into the platform's application menu.
    QtApplicationMenu(const std::string& name, KyMenuDelegate* delegate,
                      QtMenuPlacement placement = kApplicationMenuPlacement);
    ~QtApplicationMenu();
    QtApplicationMenu(const QtApplicationMenu&) = delete;
    QtApplicationMenu& operator=(const QtApplicationMenu&) = delete;

    QMenu* menu() const { return menu_.get(); }
    QAction* action(PlatformAppMenuItem item) const;
    // quit_ stays enabled: the program must always be able to end.
    void setItemEnabled(PlatformAppMenuItem item, bool enabled);
    // Lets window trigger the entries' shortcuts while its menu bar does not show the menu.
    void addShortcutsTo(QWidget* window) const;

  private:
    std::unique_ptr<QMenu> menu_;
    QAction* about_;
    QAction* preferences_;
    QAction* quit_;
    KyMenuDelegate* delegate_;
};

// A menu bar as the layer knows it. The handle is this object's address, resolved only
// through the binding's list of live bars.
struct QtMenuBar {
    PlatformMenuBar* handle() { return reinterpret_cast<PlatformMenuBar*>(this); }
};
