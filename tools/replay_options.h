// The command line of nmea_replay.
#pragma once

#include <cstdint>
#include <string>

struct ReplayOptions {
    std::string file;                        // the NMEA log to play
    std::string bind_address = "127.0.0.1";  // where to listen; "0.0.0.0" or "::" for all
    uint16_t port = 10000;                   // 0 lets the system pick a free port
    double rate_hz = 1.0;                    // sentences written per second
    bool once = false;                       // play the file once to one client, then end
};

// Rates above this are refused: the waits are whole milliseconds.
constexpr double kMaxReplayRateHz = 1000.0;

enum class ReplayCommand { kServe, kShowHelp, kBadArguments };

// Reads `FILE [--port N] [--rate HZ] [--once] [--bind ADDR]` (options in any order, before or
// after FILE) or `--help`. On kBadArguments *error says what is wrong; *options then holds
// whatever was read so far and should not be used.
ReplayCommand ParseReplayOptions(int argc, const char* const* argv, ReplayOptions* options,
                                 std::string* error);

// The one-line usage text, without a line end.
const char* ReplayUsage();

// The usage line followed by a description of every option and of how clients are served.
const char* ReplayHelp();
