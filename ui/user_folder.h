// The user's own folder for the program's files, used when the application bundle cannot hold
// them (a bundle installed where the user cannot write, or no bundle at all).
#pragma once

#include <string>

// How the platform names a program's folder in the user's home.
enum class UserFolderConvention {
    Xdg,    // $XDG_CONFIG_HOME/navlume when that is an absolute path, else ~/.config/navlume
    MacOS,  // ~/Library/Application Support/Navlume
};

// The convention of the system this program was built for.
UserFolderConvention ThisSystemsUserFolderConvention();

// The user's folder by the convention, from the values of HOME and XDG_CONFIG_HOME (null or
// empty: unset). Relative values are not used. Empty when there is no usable HOME.
std::string UserFolderPath(const char* home, const char* xdgConfigHome,
                           UserFolderConvention convention);

// Makes path an existing folder: every missing folder on the way is created with mode 0700.
// An existing folder is left as it is; anything else in the way (a plain file, a dangling
// link) makes it fail and is left untouched. True when path is a folder at the end.
bool MakePrivateFolder(const std::string& path);

// The folder to work in instead of the bundle: empty when the bundle's Contents folder is
// writable (it keeps the files) or when no user folder can be had; otherwise the user's folder,
// created when missing. The start-up passes the real values; tests pass their own.
std::string UserFolderToEnter(bool contentsWritable, const char* home, const char* xdgConfigHome,
                              UserFolderConvention convention);
