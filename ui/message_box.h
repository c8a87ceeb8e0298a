// Modal message requester.
#pragma once

#include <cstdint>

enum MessageBoxFlag : int32_t { kMessageBoxYesNo = 0x1, kMessageBoxYesNoCancel = 0x2 };
enum MessageBoxResult : int64_t { kResultCancel = 2, kResultYes = 6, kResultNo = 7 };

// Shows title as the headline and text as the secondary text with the buttons the flags ask
// for; returns 6 (Yes), 7 (No), 2 (Cancel), or 0 for the single OK button or on failure. The
// window that was key before is key again afterwards.
int64_t ShowMessageBox(const char* title, const char* text, int32_t flags);
int64_t ShowMessageBox0(const char* title, const char* text);
