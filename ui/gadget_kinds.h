// The gadget kinds: label, button, string field, track bar and IP-address field. Each returns
// the new number when number is -1, otherwise the view as a non-zero value; 0 on failure.
// Gadgets go into the window that is the current gadget list.
#pragma once

#include <cstdint>

enum TextGadgetFlag : int32_t { kTextRight = 0x1, kTextCenter = 0x2, kTextBorder = 0x4 };
enum ButtonGadgetFlag : int32_t {
    kButtonRight = 0x1,
    kButtonLeft = 0x2,
    kButtonToggle = 0x4,
    kButtonDefault = 0x8,
};
enum StringGadgetFlag : int32_t {
    kStringPassword = 0x1,
    kStringReadOnly = 0x2,
    kStringUpperCase = 0x4,
    kStringLowerCase = 0x8,
    kStringNumeric = 0x10,
    kStringBorderless = 0x20,
};
enum TrackBarGadgetFlag : int32_t { kTrackBarTicks = 0x1 };

int64_t CreateTextGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                         const char* text, int32_t flags);
int64_t CreateTextGadget0(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          const char* text);
int64_t CreateButtonGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                           const char* text, int32_t flags = 0);
int64_t CreateStringGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                           const char* text, int32_t flags = 0);
int64_t CreateTrackBarGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                             int32_t minimum, int32_t maximum, int32_t flags = 0);
int64_t CreateIPAddressGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height);
