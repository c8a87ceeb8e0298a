// Judges one NMEA line: is it a recommended-minimum (RMC) sentence that carries a position the
// globe may be moved to?
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// A position as the labels show it (the decimal-degree texts of the sentence's fields), with the
// same values as numbers and what else the sentence tells about the fix. Those extras are left
// empty when their fields are missing or malformed; they never make a position refused.
struct Position {
    std::string latitude;
    std::string longitude;
    double latitudeDegrees = 0;
    double longitudeDegrees = 0;
    std::string fixTime;                  // UTC, ISO 8601 ("2024-05-01T12:35:19Z"), or empty
    std::optional<double> speedKnots;     // speed over ground
    std::optional<double> courseDegrees;  // course over ground, 0 to 360

    bool operator==(const Position&) const = default;
};

// True, with the position, when line (without its line end) is an RMC sentence of any talker
// ("$" + two upper-case letters + "RMC,") whose checksum, if it carries one, is right, whose
// status is not "V" (no fix), whose latitude and longitude fields are numbers (digits and at
// most one point), and whose converted latitude lies in -90..90 and longitude in -180..180. Any
// other line gives false. The fix time comes from fields 2 (hhmmss, fractions allowed) and 10
// (ddmmyy), the speed from field 8 and the course from field 9.
bool JudgeRmcLine(const char* line, size_t length, Position* position);

// True when line (without its line end) is gpsd's greeting, which asks for a watch request.
bool IsGpsdGreeting(const char* line, size_t length);

// The request that makes gpsd relay the receiver's NMEA sentences, with its line end.
constexpr const char* kGpsdWatchRequest = "?WATCH={\"enable\":true,\"nmea\":true}\n";
