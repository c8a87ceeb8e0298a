// Where the application menu lives, decided here alone. On macOS it is the platform's own
// application menu in the screen's menu bar: Qt moves About, Preferences and Quit there by
// their menu roles, and Command-Q is the platform's Quit key. Elsewhere it is a menu in the
// window's own bar, inside the window.
#pragma once

enum class QtMenuPlacement { InWindow, Native };

#ifdef __APPLE__
constexpr QtMenuPlacement kApplicationMenuPlacement = QtMenuPlacement::Native;
#else
constexpr QtMenuPlacement kApplicationMenuPlacement = QtMenuPlacement::InWindow;
#endif
