#include "ui/menu_delegate.h"

#include "ui/event_queue.h"
#include "ui/menus.h"

void KyMenuDelegate::preferences() {
    PostEvent(MenuItemChosen, kMenuPreferences, WindowID, 0);
}

void KyMenuDelegate::about() {
    PostEvent(MenuItemChosen, kMenuAbout, WindowID, 0);
}

void KyMenuDelegate::terminate() {
    PostEvent(MenuItemChosen, kMenuQuit, WindowID, 0);
}

void KyMenuDelegate::eventHandler(int64_t itemID, int64_t windowID) {
    PostEvent(MenuItemChosen, itemID, windowID, 0);
}
