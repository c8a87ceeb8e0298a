// The time of a fix as KML and most tools write times: UTC in ISO 8601.
#pragma once

#include <string>
#include <string_view>

// "2024-05-01T12:35:19Z" from an RMC sentence's time field (hhmmss, with or without fractions:
// "123519.25" keeps them, "2024-05-01T12:35:19.25Z") and date field (ddmmyy; years 80 to 99 are
// 19xx, the others 20xx). The empty text when either field is missing or malformed, or names no
// real time or day (hour 24, minute 60, 31 April, 29 February outside a leap year); second 60
// is a leap second and kept.
std::string FixTimeText(std::string_view time, std::string_view date);
