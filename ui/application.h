// Start-up steps of the desktop interface layer.
#pragma once

#include <string>

#include "ui/platform_interface.h"

// Makes this process the active application.
void BringProcessToFront();
// When the executable lies in <name>.app/Contents/MacOS/, makes <name>.app/Contents the
// working directory. When that folder cannot be written, or there is no bundle, the user's own
// folder (user_folder.h) becomes the working directory instead, made when missing; when none
// can be had, the working directory stays as it is.
void EnterBundleDirectory();
// The working directory EnterBundleDirectory would choose for an executable path, or the empty
// text when it would stay.
std::string BundleContentsDirectory(const std::string& executablePath);
// HOME and XDG_CONFIG_HOME of this process, for a platform binding's homeFolders.
PlatformHomeFolders HomeFoldersOfProcess();
// Builds the application menu and records the GUI thread. Needs the platform (SetUiPlatform).
void ApplicationInit();
void ApplicationEnd();
// Texts cross to the window system as 8-bit ISO Latin-1; this layer knows no other mode, so
// there is nothing to switch.
void TextModeInit();
// True on the thread that called ApplicationInit.
bool IsGuiThread();
