// Numbered menu bars with the application menu, and the reserved menu ids.
#pragma once

#include <cstdint>
#include <string>

#include "ui/platform_interface.h"

constexpr int64_t kMenuQuit = -1;
constexpr int64_t kMenuPreferences = -2;
constexpr int64_t kMenuAbout = -3;

// Modifier bits of a shortcut.
enum MenuModifier : int64_t {
    kModifierShift = 0x20000,
    kModifierControl = 0x40000,
    kModifierOption = 0x80000,
    kModifierCommand = 0x100000,
    kModifierFunctionKey = 0x800000,
};

// An item text split into its title, shortcut modifiers and key (UTF-8; F1..F12 are the
// characters U+F704..U+F70F).
struct MenuItemText {
    std::string title;
    int64_t modifiers = 0;
    std::string key;
};

// Creates the menu table. Called once at start-up.
void MenuLibraryInit();
void MenuLibraryEnd();
// "Open\tCtrl+Shift+F5" gives the title "Open", Control+Shift+function key and F5's character.
MenuItemText ParseMenuItemText(const char* text);
// A new menu bar for window (the application menu its first menu), made current; installed at
// once when the window is the key window. The new number for -1, otherwise a non-zero handle.
int64_t CreateMenuBar(int64_t number, PlatformWindow* window);
// Adds an item to the current submenu; ids -1, -2 and -3 connect the application menu's Quit,
// Preferences and About entries instead (their texts are not shown).
void AddMenuItem(int32_t id, const char* text);
// Frees one menu bar; -1 frees all.
void FreeMenu(int64_t number);
// Frees the first menu bar that belongs to window.
void FreeWindowMenu(PlatformWindow* window);
// Builds and installs the bar shown while no window's bar is installed (application start).
void CreateDefaultMenuBar();
// Installs the bar that belongs to window, if any (the window became key).
void InstallWindowMenu(PlatformWindow* window, int64_t windowNumber);

// KyMenuDelegate: receives the application menu's commands and posts them as layer events.
class KyMenuDelegate {
  public:
    void setWindowID(int64_t windowID) { windowID_ = windowID; }
    int64_t windowID() const { return windowID_; }

    void preferences();  // posts (MenuItemChosen, -2)
    void about();        // posts (MenuItemChosen, -3)
    void terminate();    // posts (MenuItemChosen, -1); the process goes on
    // An ordinary item: its id and the window number of the bar it belongs to.
    void eventHandler(int64_t itemID, int64_t windowID);

  private:
    int64_t windowID_ = -1;
};

// The application menu's delegate (for the platform binding and tests).
KyMenuDelegate* MenuDelegate();
