// The layer's 8-bit Latin-1 texts and the platform's strings (UTF-8) at their border.
#pragma once

#include <cstdint>
#include <string>

using PlatformString = std::string;

// A platform string holding text (null reads as empty), each byte one Latin-1 character.
PlatformString TextToPlatformString(const char* text);
// The characters of a platform string as Latin-1 text at start in the temporary buffer, one
// byte per UTF-16 unit, every character outside Latin-1 becoming "?". Null reads as empty.
char* PlatformStringToTemp(const PlatformString* string, int64_t start);
// The same conversion into a std::string (for copies kept outside the temporary buffer).
std::string PlatformStringToLatin1(const PlatformString& string);
// Length in UTF-16 units, the unit in which text fields count characters; a malformed byte
// counts as one.
int64_t PlatformStringLength(const PlatformString& string);
// Case forms of a platform string: the letters of Latin-1 that have a Latin-1 counterpart
// change, every other character stays as it is.
PlatformString PlatformStringUpperCase(const PlatformString& string);
PlatformString PlatformStringLowerCase(const PlatformString& string);
