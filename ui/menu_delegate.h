// KyMenuDelegate: receives the application menu's commands and posts them as layer events.
#pragma once

#include <cstdint>

class KyMenuDelegate {
  public:
    void setWindowID(int64_t windowID) { WindowID = windowID; }
    int64_t windowID() const { return WindowID; }

    void preferences();  // posts (MenuItemChosen, -2)
    void about();        // posts (MenuItemChosen, -3)
    void terminate();    // posts (MenuItemChosen, -1); the process goes on
    // An ordinary item: its id and the window number of the bar it belongs to.
    void eventHandler(int64_t itemID, int64_t windowID);

  private:
    int64_t WindowID = -1;
};
